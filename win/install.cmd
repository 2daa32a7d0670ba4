@echo off
rem install.cmd BOARD.reg [zorvik.sys]
rem
rem Installs the Zorvik board-support driver on this machine (32-bit x86
rem Windows XP or later, run as an Administrator):
rem   1. checks for administrator rights and a 32-bit x86 system;
rem   2. saves the configuration already under HKLM\Software\Varnel\Zorvik
rem      to zorvik-backup.reg beside this script, before changing anything;
rem   3. imports the board's configuration (BOARD.reg, one of the
rem      boards\*.reg files or the board integrator's own), replacing the
rem      old one; when the import fails, shows reg's error text, puts the
rem      saved configuration back and stops;
rem   4. copies zorvik.sys (default: the one beside this script) to
rem      %SystemRoot%\system32\drivers, zorvik.dll (beside this script,
rem      where zrvctl.exe finds it) to %SystemRoot%\system32, where every
rem      management program finds it, and the board's profile
rem      (BOARD.profile.json beside BOARD.reg) beside zrvctl.exe as
rem      zorvik.profile.json;
rem   5. registers the kernel service "zorvik", started at every boot;
rem   6. starts it now and shows zrvctl status.
rem The driver reads its configuration once, when it loads: after changing
rem the configuration, run install.cmd again (it restarts the driver).
setlocal
if "%~1"=="" goto usage
if "%~1"=="/?" goto usage
set "BOARD_REG=%~f1"
set "PROFILE=%~dpn1.profile.json"
set "DRIVER=%~2"
if "%DRIVER%"=="" set "DRIVER=%~dp0zorvik.sys"
set "BACKUP=%~dp0zorvik-backup.reg"
set "ERRORS=%TEMP%\zorvik-install.txt"
if not exist "%BOARD_REG%" (echo install: %BOARD_REG% not found & exit /b 2)
if not exist "%DRIVER%" (echo install: %DRIVER% not found & exit /b 2)

rem Only an Administrator may register a kernel service and write HKLM.
net session >nul 2>&1
if errorlevel 1 (echo install: run as administrator & exit /b 2)
rem zorvik.sys is a 32-bit x86 kernel driver: a 64-bit Windows (where a
rem 32-bit cmd.exe sees PROCESSOR_ARCHITEW6432) cannot load it.
if defined PROCESSOR_ARCHITEW6432 goto wrongsystem
if /i not "%PROCESSOR_ARCHITECTURE%"=="x86" goto wrongsystem

rem The old configuration, saved before anything changes.
set "HAD_CONFIG="
if exist "%BACKUP%" del /f "%BACKUP%"
reg query "HKLM\Software\Varnel\Zorvik" >nul 2>&1
if errorlevel 1 goto import
reg export "HKLM\Software\Varnel\Zorvik" "%BACKUP%" >nul 2>&1
if errorlevel 1 (echo install: cannot save the configuration to %BACKUP%; nothing changed & exit /b 1)
set "HAD_CONFIG=1"
echo install: the old configuration is saved in %BACKUP%

:import
rem A running driver keeps its old configuration: stop it first.
sc stop zorvik >nul 2>&1
reg delete "HKLM\Software\Varnel\Zorvik" /f >nul 2>&1
reg import "%BOARD_REG%" >"%ERRORS%" 2>&1
if not errorlevel 1 goto imported
echo install: reg import of %BOARD_REG% failed:
type "%ERRORS%"
reg delete "HKLM\Software\Varnel\Zorvik" /f >nul 2>&1
if defined HAD_CONFIG reg import "%BACKUP%" >nul 2>&1
if defined HAD_CONFIG (echo install: the old configuration is back in place) else (echo install: there was no configuration before)
sc start zorvik >nul 2>&1
exit /b 1

:imported
copy /y "%DRIVER%" "%SystemRoot%\system32\drivers\zorvik.sys" >nul
if errorlevel 1 (echo install: cannot copy %DRIVER% to %SystemRoot%\system32\drivers & exit /b 1)
if exist "%PROFILE%" copy /y "%PROFILE%" "%~dp0zorvik.profile.json" >nul
if not exist "%~dp0zorvik.dll" goto service
copy /y "%~dp0zorvik.dll" "%SystemRoot%\system32\zorvik.dll" >nul
if errorlevel 1 (echo install: cannot copy zorvik.dll to %SystemRoot%\system32 & exit /b 1)

:service

sc query zorvik >nul 2>&1
if errorlevel 1 goto create
rem Registered by an earlier install: bring its settings back to ours, or,
rem where sc has no "config", register it anew.
sc config zorvik type= kernel start= auto error= normal binPath= "\SystemRoot\system32\drivers\zorvik.sys" >nul 2>&1
if not errorlevel 1 goto start
sc delete zorvik >nul
:create
sc create zorvik type= kernel start= auto error= normal binPath= "\SystemRoot\system32\drivers\zorvik.sys" DisplayName= "Zorvik board support" >nul
if errorlevel 1 (echo install: cannot register the zorvik service & exit /b 1)

:start

sc start zorvik >nul
if errorlevel 1 (echo install: the driver did not start; see the system event log & exit /b 1)
echo install: zorvik is running with the configuration of %BOARD_REG%
if exist "%~dp0zrvctl.exe" "%~dp0zrvctl.exe" status
exit /b 0

:wrongsystem
echo install: zorvik.sys needs 32-bit x86 Windows; this system is %PROCESSOR_ARCHITECTURE% %PROCESSOR_ARCHITEW6432%
exit /b 2

:usage
echo usage: install.cmd BOARD.reg [zorvik.sys]
exit /b 2
