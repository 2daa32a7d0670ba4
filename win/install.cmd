@echo off
rem install.cmd BOARD.reg [zorvik.sys]
rem
rem Installs the Zorvik board-support driver on this machine (32-bit x86
rem Windows XP or later, or x64 Windows XP x64 / Server 2003 x64 or later;
rem run as an Administrator). The package holds one folder per architecture
rem beside this script, each with zorvik.sys, zorvik.dll and zrvctl.exe:
rem   x86\   32-bit x86 Windows
rem   x64\   64-bit x64 Windows (AMD64)
rem and install.cmd takes the folder of the Windows it runs on:
rem   1. checks for administrator rights and picks the architecture from
rem      PROCESSOR_ARCHITECTURE (x86 or AMD64); run from a 32-bit command
rem      prompt on 64-bit Windows (PROCESSOR_ARCHITEW6432 is then AMD64) it
rem      starts itself again in the 64-bit one (%SystemRoot%\Sysnative), as
rem      a 32-bit one would see the 32-bit system32 and registry;
rem   2. saves the configuration already under HKLM\Software\Varnel\Zorvik
rem      to zorvik-backup.reg beside this script, before changing anything;
rem   3. stops the keepalive service "zrvwdt" when it runs (Windows refuses
rem      to stop a driver that a running service depends on), then the
rem      driver;
rem   4. imports the board's configuration (BOARD.reg, one of the
rem      boards\*.reg files or the board integrator's own), replacing the
rem      old one; when the import fails, shows reg's error text, puts the
rem      saved configuration back, starts what it stopped and stops;
rem   5. copies zorvik.sys (default: the one in the architecture's folder) to
rem      %SystemRoot%\system32\drivers, and zorvik.dll and zrvctl.exe (from
rem      that folder) and the board's profile (BOARD.profile.json beside
rem      BOARD.reg) as zorvik.profile.json to %SystemRoot%\system32, where
rem      every program finds the library, zrvctl.exe is on the PATH and finds
rem      the profile beside itself, and the keepalive service runs from;
rem      without a profile an older one is removed (sensors then shows raw
rem      readings); on 64-bit Windows also x86\zorvik.dll to
rem      %SystemRoot%\SysWOW64, for 32-bit management software;
rem   6. registers the kernel service "zorvik", started at every boot, and
rem      the System event log's source "zorvik", whose messages (a function
rem      the driver could not bind) are in zorvik.sys;
rem   7. starts it now, and the keepalive service if it ran before, and
rem      shows zrvctl status.
rem The driver reads its configuration once, when it loads: after changing
rem the configuration, run install.cmd again (it restarts the driver).
rem ZRV_SC, when set, names the program used instead of sc (the tests log
rem the order of the service-control calls through it).
setlocal
if "%~1"=="" goto usage
if "%~1"=="/?" goto usage
rem A 32-bit command prompt on 64-bit Windows: again in the 64-bit one.
if not defined PROCESSOR_ARCHITEW6432 goto native
if not exist "%SystemRoot%\Sysnative\cmd.exe" goto wrongshell
rem (The script by its short name: a command line for /c that starts with a
rem quote loses its first and last quote.)
"%SystemRoot%\Sysnative\cmd.exe" /c %~s0 %*
exit /b %errorlevel%
:native
set "ARCH="
if /i "%PROCESSOR_ARCHITECTURE%"=="x86" set "ARCH=x86"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "ARCH=x64"
if not defined ARCH goto wrongsystem
set "BOARD_REG=%~f1"
set "PROFILE=%~dpn1.profile.json"
set "DRIVER=%~2"
set "FILES=%~dp0%ARCH%\"
if "%DRIVER%"=="" set "DRIVER=%FILES%zorvik.sys"
set "BACKUP=%~dp0zorvik-backup.reg"
set "ERRORS=%TEMP%\zorvik-install.txt"
set "SCOUT=%TEMP%\zorvik-sc.txt"
set "SYS32=%SystemRoot%\system32"
if not defined ZRV_SC set "ZRV_SC=sc"
if not exist "%BOARD_REG%" (echo install: %BOARD_REG% not found & exit /b 2)
if not exist "%DRIVER%" (echo install: %DRIVER% not found & exit /b 2)

rem Only an Administrator may register a kernel service and write HKLM.
net session >nul 2>&1
if errorlevel 1 (echo install: run as administrator & exit /b 2)
echo install: %ARCH% Windows: the driver and programs of %FILES%

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
rem The keepalive service keeps the driver open, and Windows refuses to stop
rem a driver that a running service depends on (error 1051): stop the
rem service first, wait until it has stopped, and start it again last.
set "KEEPALIVE="
call %ZRV_SC% query zrvwdt >"%SCOUT%" 2>&1
find "RUNNING" "%SCOUT%" >nul 2>&1
if errorlevel 1 goto stopdriver
set "KEEPALIVE=1"
call %ZRV_SC% stop zrvwdt >nul 2>&1
set "WAITED=0"
:waitkeepalive
call %ZRV_SC% query zrvwdt >"%SCOUT%" 2>&1
find "STOPPED" "%SCOUT%" >nul 2>&1
if not errorlevel 1 goto stopdriver
set /a WAITED+=1
if %WAITED% GEQ 30 (echo install: the zrvwdt service does not stop; nothing else changed & exit /b 1)
ping -n 2 127.0.0.1 >nul 2>&1
goto waitkeepalive

:stopdriver
rem A running driver keeps its old configuration: stop it.
call %ZRV_SC% stop zorvik >nul 2>&1
reg delete "HKLM\Software\Varnel\Zorvik" /f >nul 2>&1
reg import "%BOARD_REG%" >"%ERRORS%" 2>&1
if not errorlevel 1 goto imported
echo install: reg import of %BOARD_REG% failed:
type "%ERRORS%"
reg delete "HKLM\Software\Varnel\Zorvik" /f >nul 2>&1
if defined HAD_CONFIG reg import "%BACKUP%" >nul 2>&1
if defined HAD_CONFIG (echo install: the old configuration is back in place) else (echo install: there was no configuration before)
call %ZRV_SC% start zorvik >nul 2>&1
if defined KEEPALIVE call %ZRV_SC% start zrvwdt >nul 2>&1
exit /b 1

:imported
copy /y "%DRIVER%" "%SYS32%\drivers\zorvik.sys" >nul
if errorlevel 1 (echo install: cannot copy %DRIVER% to %SYS32%\drivers & exit /b 1)
for %%f in (zorvik.dll zrvctl.exe) do (
  if exist "%FILES%%%f" copy /y "%FILES%%%f" "%SYS32%\%%f" >nul
  if errorlevel 1 (echo install: cannot copy %%f to %SYS32% & exit /b 1)
)
rem 32-bit programs on 64-bit Windows load their zorvik.dll from SysWOW64.
if not "%ARCH%"=="x64" goto copied
if not exist "%~dp0x86\zorvik.dll" goto copied
copy /y "%~dp0x86\zorvik.dll" "%SystemRoot%\SysWOW64\zorvik.dll" >nul
if errorlevel 1 (echo install: cannot copy x86\zorvik.dll to %SystemRoot%\SysWOW64 & exit /b 1)
:copied
if exist "%PROFILE%" goto profile
if exist "%SYS32%\zorvik.profile.json" del /f "%SYS32%\zorvik.profile.json"
echo install: no board profile %PROFILE%: sensors shows raw readings
goto service
:profile
copy /y "%PROFILE%" "%SYS32%\zorvik.profile.json" >nul
if errorlevel 1 (echo install: cannot copy %PROFILE% to %SYS32% & exit /b 1)

:service

call %ZRV_SC% query zorvik >nul 2>&1
if errorlevel 1 goto create
rem Registered by an earlier install: bring its settings back to ours, or,
rem where sc has no "config", register it anew.
call %ZRV_SC% config zorvik type= kernel start= auto error= normal binPath= "\SystemRoot\system32\drivers\zorvik.sys" >nul 2>&1
if not errorlevel 1 goto start
call %ZRV_SC% delete zorvik >nul
:create
call %ZRV_SC% create zorvik type= kernel start= auto error= normal binPath= "\SystemRoot\system32\drivers\zorvik.sys" DisplayName= "Zorvik board support" >nul
if errorlevel 1 (echo install: cannot register the zorvik service & exit /b 1)

:start
set "EVENTLOG=HKLM\SYSTEM\CurrentControlSet\Services\EventLog\System\zorvik"
reg add "%EVENTLOG%" /v EventMessageFile /t REG_EXPAND_SZ /d "%%SystemRoot%%\System32\drivers\zorvik.sys" /f >nul
if errorlevel 1 (echo install: cannot register the event log source zorvik & exit /b 1)
reg add "%EVENTLOG%" /v TypesSupported /t REG_DWORD /d 7 /f >nul

call %ZRV_SC% start zorvik >nul
if errorlevel 1 (echo install: the driver did not start; see the system event log & exit /b 1)
echo install: zorvik is running with the configuration of %BOARD_REG%
if not defined KEEPALIVE goto status
call %ZRV_SC% start zrvwdt >nul
if errorlevel 1 (echo install: the keepalive service zrvwdt did not start again; see the event log & exit /b 1)
echo install: the keepalive service zrvwdt runs again
:status
if exist "%SYS32%\zrvctl.exe" "%SYS32%\zrvctl.exe" status
exit /b 0

:wrongsystem
echo install: zorvik.sys is built for x86 and x64 Windows; this system is %PROCESSOR_ARCHITECTURE%
exit /b 2

:wrongshell
echo install: a 32-bit command prompt on 64-bit Windows without %SystemRoot%\Sysnative: run install.cmd from the 64-bit one (%SystemRoot%\system32\cmd.exe)
exit /b 2

:usage
echo usage: install.cmd BOARD.reg [zorvik.sys]
exit /b 2
