@echo off
rem Collects what a support engineer needs to replay this machine with adapter_report: the tool's
rem own report, the device and driver keys as reg export writes them, and the list of the devices
rem present now, which the registry alone does not tell.
rem   collect.cmd [DIR]      (default: adapter_report-%COMPUTERNAME% in the current directory)
rem Run it from an elevated prompt, from the folder that holds adapter_report.exe. The files are
rem written to DIR.partial and the folder takes its name only when every one of them is complete.
rem Each step is checked on a line of its own ("if errorlevel"), not with "||", whose outcome
rem after a built-in command differs between cmd's implementations.
setlocal EnableExtensions
set "OUT=%~1"
if "%OUT%"=="" set "OUT=adapter_report-%COMPUTERNAME%"
set "WORK=%OUT%.partial"
set "KEYS=HKLM\SYSTEM\CurrentControlSet"

net session >nul 2>&1
if errorlevel 1 (
    echo collect.cmd: run it from an elevated prompt ^(Run as administrator^): without elevation the driver keys cannot be read. 1>&2
    exit /b 2
)
if exist "%OUT%" (
    echo collect.cmd: "%OUT%" exists already: name another folder. 1>&2
    exit /b 2
)
if not exist "%~dp0adapter_report.exe" (
    echo collect.cmd: adapter_report.exe is not beside this script in "%~dp0". 1>&2
    exit /b 2
)
if exist "%WORK%" rd /s /q "%WORK%"
mkdir "%WORK%"
if not exist "%WORK%\" goto :failed

"%~dp0adapter_report.exe" > "%WORK%\report.txt"
if errorlevel 1 goto :failed
reg export "%KEYS%\Enum" "%WORK%\enum.reg" /y >nul
if errorlevel 1 goto :failed
reg export "%KEYS%\Control\Class" "%WORK%\class.reg" /y >nul
if errorlevel 1 goto :failed

rem Present devices, in a form that does not depend on the display language: PowerShell's
rem Get-PnpDevice where there is one (Windows 10 and later), else Win32_PnPEntity through wmic.
powershell -NoProfile -NonInteractive -Command "Get-PnpDevice -PresentOnly | Select-Object InstanceId | Export-Csv -LiteralPath '%WORK%\present.csv' -NoTypeInformation -Encoding UTF8" >nul 2>&1
call :nonempty "%WORK%\present.csv"
if not errorlevel 1 goto :present
wmic path Win32_PnPEntity get PNPDeviceID /format:csv > "%WORK%\present.csv" 2>nul
if errorlevel 1 goto :nolist
call :nonempty "%WORK%\present.csv"
if not errorlevel 1 goto :present
:nolist
if exist "%WORK%\present.csv" del "%WORK%\present.csv"
echo collect.cmd: no list of present devices could be made ^(neither Get-PnpDevice nor wmic answered^): the replay will count every device in the export as present. 1>&2
:present

move "%WORK%" "%OUT%" >nul
if not exist "%OUT%\report.txt" goto :failed
echo Collected in "%OUT%": report.txt, enum.reg, class.reg and, where it could be made, present.csv.
exit /b 0

:nonempty
if not exist "%~1" exit /b 1
if %~z1 EQU 0 exit /b 1
exit /b 0

:failed
echo collect.cmd: collecting failed; nothing is left in "%WORK%". 1>&2
if exist "%WORK%" rd /s /q "%WORK%"
exit /b 1
