@echo off
rem uninstall.cmd [/purge]
rem
rem Removes the Zorvik board-support driver (run as an Administrator): stops
rem and deletes the keepalive service "zrvwdt" if there is one (stopping it
rem stops the watchdog, unless it was installed with --leave-running), then
rem the kernel service "zorvik" (Windows refuses to stop a driver a running
rem service depends on), and deletes %SystemRoot%\system32\drivers\zorvik.sys
rem and what install.cmd put in %SystemRoot%\system32: zorvik.dll,
rem zrvctl.exe and zorvik.profile.json (and on 64-bit Windows the 32-bit
rem zorvik.dll in %SystemRoot%\SysWOW64), and the System event log's source
rem "zorvik". With /purge the board's
rem configuration under HKLM\Software\Varnel\Zorvik goes too. Run from a
rem 32-bit command prompt on 64-bit Windows it starts itself again in the
rem 64-bit one, as install.cmd does.
rem
rem Stopping the driver touches no hardware: a watchdog that was started
rem keeps counting and will reset the board unless it is stopped first
rem (zrvctl wdctl stop).
setlocal
if not defined PROCESSOR_ARCHITEW6432 goto native
if not exist "%SystemRoot%\Sysnative\cmd.exe" (echo uninstall: run it from the 64-bit command prompt & exit /b 2)
rem (The script by its short name: a command line for /c that starts with a
rem quote loses its first and last quote.)
"%SystemRoot%\Sysnative\cmd.exe" /c %~s0 %*
exit /b %errorlevel%
:native
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
reg delete "HKLM\SYSTEM\CurrentControlSet\Services\EventLog\System\zorvik" /f >nul 2>&1
for %%f in (zorvik.dll zrvctl.exe zorvik.profile.json) do if exist "%SYS32%\%%f" del /f "%SYS32%\%%f"
if exist "%SystemRoot%\SysWOW64\zorvik.dll" del /f "%SystemRoot%\SysWOW64\zorvik.dll"
if /i "%~1"=="/purge" reg delete "HKLM\Software\Varnel\Zorvik" /f >nul 2>&1
sc query zorvik >nul 2>&1
if not errorlevel 1 (echo uninstall: the zorvik service is still registered; it goes at the next restart & exit /b 1)
echo uninstall: zorvik removed
exit /b 0
