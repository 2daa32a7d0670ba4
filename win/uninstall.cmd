@echo off
rem uninstall.cmd [/purge]
rem
rem Removes the Zorvik board-support driver (run as an Administrator): stops
rem and deletes the kernel service "zorvik" and deletes
rem %SystemRoot%\system32\drivers\zorvik.sys and %SystemRoot%\system32\zorvik.dll.
rem With /purge the board's configuration under HKLM\Software\Varnel\Zorvik
rem goes too.
rem
rem Stopping the driver touches no hardware: a watchdog that was started
rem keeps counting and will reset the board unless it is stopped first
rem (zrvctl wdctl stop).
setlocal
sc stop zorvik >nul 2>&1
sc delete zorvik >nul 2>&1
if exist "%SystemRoot%\system32\drivers\zorvik.sys" del /f "%SystemRoot%\system32\drivers\zorvik.sys"
if exist "%SystemRoot%\system32\zorvik.dll" del /f "%SystemRoot%\system32\zorvik.dll"
if /i "%~1"=="/purge" reg delete "HKLM\Software\Varnel\Zorvik" /f >nul 2>&1
sc query zorvik >nul 2>&1
if not errorlevel 1 (echo uninstall: the zorvik service is still registered; it goes at the next restart & exit /b 1)
echo uninstall: zorvik removed
exit /b 0
