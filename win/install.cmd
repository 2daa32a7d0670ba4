@echo off
rem install.cmd BOARD.reg [zorvik.sys]
rem
rem Installs the Zorvik board-support driver on this machine (32-bit
rem Windows XP or later, run as an Administrator):
rem   1. imports the board's configuration (BOARD.reg, one of the boards\*.reg
rem      files or the board integrator's own) into
rem      HKLM\Software\Varnel\Zorvik, replacing an earlier one;
rem   2. copies zorvik.sys (default: the one beside this script) to
rem      %SystemRoot%\system32\drivers;
rem   3. registers the kernel service "zorvik", started at every boot;
rem   4. starts it now.
rem The driver reads its configuration once, when it loads: after changing
rem the configuration, run install.cmd again (it restarts the driver).
setlocal
if "%~1"=="" goto usage
set "BOARD_REG=%~f1"
set "DRIVER=%~2"
if "%DRIVER%"=="" set "DRIVER=%~dp0zorvik.sys"
if not exist "%BOARD_REG%" (echo install: %BOARD_REG% not found & exit /b 2)
if not exist "%DRIVER%" (echo install: %DRIVER% not found & exit /b 2)

rem A running driver keeps its old configuration: stop it first.
sc stop zorvik >nul 2>&1

reg delete "HKLM\Software\Varnel\Zorvik" /f >nul 2>&1
reg import "%BOARD_REG%" >nul 2>&1
if errorlevel 1 (echo install: reg import of %BOARD_REG% failed & exit /b 1)

copy /y "%DRIVER%" "%SystemRoot%\system32\drivers\zorvik.sys" >nul
if errorlevel 1 (echo install: cannot copy %DRIVER% to %SystemRoot%\system32\drivers & exit /b 1)

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
exit /b 0

:usage
echo usage: install.cmd BOARD.reg [zorvik.sys]
exit /b 2
