@echo off
rem uninstall.cmd [/purge]
rem
rem Removes the Zorvik board-support driver (run as an Administrator): stops
rem and deletes the keepalive service "zrvwdt" if there is one (stopping it
rem stops the watchdog, unless it was installed with --leave-running), then
rem the kernel service "zorvik" (Windows refuses to stop a driver a running
rem service depends on), and deletes %SystemRoot%\system32\drivers\zorvik.sys
rem and what install.cmd put in %SystemRoot%\system32: zorvik.dll,
rem zrvctl.exe and zorvik.profile.json. With /purge the board's
rem configuration under HKLM\Software\Varnel\Zorvik goes too.
rem
rem Stopping the driver touches no hardware: a watchdog that was started
rem keeps counting and will reset the board unless it is stopped first
rem (zrvctl wdctl stop).
setlocal
set "SYS32=%SystemRoot%\system32"
sc query zrvwdt >nul 2>&1
if errorlevel 1 goto driver
if not exist "%SYS32%\zrvctl.exe" goto keepalive
"%SYS32%\zrvctl.exe" service remove
if not errorlevel 1 goto driver
:keepalive
sc stop zrvwdt >nul 2>&1
sc delete zrvwdt >nul 2>&1
:driver
sc stop zorvik >nul 2>&1
sc delete zorvik >nul 2>&1
if exist "%SYS32%\drivers\zorvik.sys" del /f "%SYS32%\drivers\zorvik.sys"
for %%f in (zorvik.dll zrvctl.exe zorvik.profile.json) do if exist "%SYS32%\%%f" del /f "%SYS32%\%%f"
if /i "%~1"=="/purge" reg delete "HKLM\Software\Varnel\Zorvik" /f >nul 2>&1
sc query zorvik >nul 2>&1
if not errorlevel 1 (echo uninstall: the zorvik service is still registered; it goes at the next restart & exit /b 1)
echo uninstall: zorvik removed
exit /b 0
