@echo off
rem Collects what a support engineer needs to replay this machine with adapter_report: the tool's
rem own report, the list of the devices present now (which the registry alone does not tell), and
rem the device and driver keys.
rem   collect.cmd [FOLDER]   (default: adapter_report-%COMPUTERNAME% beside this script)
rem Run it elevated, from the folder that holds adapter_report.exe and present_devices.exe. The
rem files are written to FOLDER.partial, which takes FOLDER's name only when every file in it is
rem complete; on failure the script removes what it made and nothing else.
rem
rem Written for every cmd.exe from Windows 7 on, and for Wine's:
rem - Delayed expansion is switched off, whatever the registry says (Command Processor
rem   DelayedExpansion), so that a "!" in a path stays.
rem - Paths are only ever expanded inside double quotes, never handed to CALL (which expands them
rem   a second time) nor pasted into another language's quotes, so that blanks, apostrophes,
rem   parentheses, ampersands, exclamation and percent signs and non-ASCII letters pass unchanged.
rem   Windows' cmd expands a batch line once; Wine 8's drops a lone percent sign from any
rem   expanded text, so there a path with one cannot work.
rem - Each step's exit status is tested on a line of its own ("if errorlevel"), not with "||",
rem   whose outcome after a built-in command differs between cmd's implementations.
setlocal EnableExtensions DisableDelayedExpansion
rem The script's own folder, with its trailing backslash: "Run as administrator" from Explorer
rem starts the script in %SystemRoot%\System32, so nothing is taken from the current directory.
set "HERE=%~dp0"
set "STATUS=2"
rem Explorer runs a double-clicked script as  cmd /c ""<script>" " , in a window that closes when
rem the script ends: then, and only then, the script waits for a key before it ends. From a
rem prompt cmdcmdline is the prompt's own command line. Wine 8's cmd has no cmdcmdline, and the
rem substitution of an undefined variable leaves a quote, hence the second pass.
set "WAIT="
set "LINE=%cmdcmdline:"=%"
if not defined LINE set "LINE=-"
set "LINE=%LINE:"=%"
set "AFTER=%LINE:*/c =%"
if not "%~1"=="" goto :arguments
if /i "%AFTER%"=="%~f0 " set "WAIT=1"
rem "Run as administrator" runs cmdfile's runas verb, cmd.exe /C "%1" %*, which may end either way.
if /i "%AFTER%"=="%~f0" set "WAIT=1"

:arguments
if "%~1"=="/?" goto :usage
if not "%~2"=="" goto :usage
set "OUT=%~1"
if not defined OUT set "OUT=%HERE%adapter_report-%COMPUTERNAME%"
rem The full path, without trailing backslashes (else FOLDER\ would give FOLDER\.partial), and
rem the folder it goes in.
for %%P in ("%OUT%\.") do set "OUT=%%~fP"
for %%P in ("%OUT%") do set "PARENT=%%~dpP"
set "WORK=%OUT%.partial"

rem Opened from inside the zip, Explorer extracts the script alone to a temporary folder.
if not exist "%HERE%adapter_report.exe" goto :alone
if not exist "%HERE%present_devices.exe" goto :alone

rem The process token tells whether the prompt is elevated, whatever services run ("net session"
rem needs the Server service, which hardened machines disable).
rem A program that crashes ends with an NTSTATUS code, negative to cmd, which "if errorlevel N"
rem (at least N) takes for success: every exit status is compared whole.
"%HERE%present_devices.exe" /elevated
set "ELEVATED=%errorlevel%"
if "%ELEVATED%"=="1" goto :not_elevated
if not "%ELEVATED%"=="0" goto :unknown_elevation

if exist "%OUT%" goto :out_exists
if exist "%WORK%" goto :work_exists
rem A drive's root is there if the drive is (Wine 8's "if exist" finds no root).
if not "%PARENT:~1%"==":\" if not exist "%PARENT%" goto :no_parent
mkdir "%WORK%"
if not exist "%WORK%\" goto :cannot_create
set "STATUS=1"

"%HERE%adapter_report.exe" > "%WORK%\report.txt"
if not "%errorlevel%"=="0" goto :failed
"%HERE%present_devices.exe" > "%WORK%\present.csv"
if not "%errorlevel%"=="0" goto :failed

rem The registry: the SYSTEM hive as reg save writes it, else the two keys as reg export writes
rem them. reg save reads with backup semantics: the "Back up files and directories" right lets
rem it past key permissions (Microsoft, "Back up files and directories" policy setting), such as
rem the Enum\...\Properties keys Windows 7 lets SYSTEM alone read, where whether reg export stops
rem with "Access is denied" is not documented. It also takes the hive at one moment, with every
rem control set and Select, and the replay reads it as it is. Wine's reg has no save ("Invalid
rem option"), so the exports are the route there, and the one the round trip under Wine tests.
reg save HKLM\SYSTEM "%WORK%\system.hiv" /y >nul 2>&1
set "SAVED=%errorlevel%"
if "%SAVED%"=="0" if exist "%WORK%\system.hiv" goto :collected
if exist "%WORK%\system.hiv" del /f /q "%WORK%\system.hiv"
echo collect.cmd: reg save could not save HKLM\SYSTEM: exporting the device and driver keys instead.
reg export HKLM\SYSTEM\CurrentControlSet\Enum "%WORK%\enum.reg" /y >nul
if not "%errorlevel%"=="0" goto :failed
reg export HKLM\SYSTEM\CurrentControlSet\Control\Class "%WORK%\class.reg" /y >nul
if not "%errorlevel%"=="0" goto :failed

:collected
move "%WORK%" "%OUT%" >nul
if errorlevel 1 goto :failed
if not exist "%OUT%\report.txt" goto :failed
echo Collected in "%OUT%".
echo Send that folder, zipped (right-click it, Send to, Compressed (zipped) folder), to support.
set "STATUS=0"
goto :end

:usage
if "%~1"=="/?" set "STATUS=0"
echo Collects what support needs to replay this machine's adapter report.
echo   collect.cmd [FOLDER]
echo FOLDER must not exist yet; by default it is adapter_report-%COMPUTERNAME% beside this script.
echo Run it elevated: right-click collect.cmd and choose "Run as administrator".
goto :end

:alone
>&2 echo collect.cmd: adapter_report.exe and present_devices.exe are not beside this script, in "%HERE%".
if not "%HERE:.zip\=%"=="%HERE%" >&2 echo collect.cmd: it seems to have been opened from inside the zip, which extracts it alone.
>&2 echo collect.cmd: extract the whole zip first (right-click it, Extract All), then run collect.cmd from there.
goto :end

:unknown_elevation
>&2 echo collect.cmd: present_devices.exe could not tell whether this prompt is elevated (see above).
goto :end

:not_elevated
>&2 echo collect.cmd: this prompt is not elevated, and only an elevated one can read the driver keys.
>&2 echo collect.cmd: right-click collect.cmd and choose "Run as administrator", or run it from an elevated prompt.
goto :end

:out_exists
>&2 echo collect.cmd: "%OUT%" exists already: name another folder.
goto :end

:work_exists
>&2 echo collect.cmd: "%WORK%" exists, perhaps left by an interrupted run: remove it or name another folder.
goto :end

:no_parent
>&2 echo collect.cmd: the folder "%PARENT%" does not exist.
goto :end

:cannot_create
>&2 echo collect.cmd: "%WORK%" cannot be created: name a folder you can write to.
goto :end

:failed
>&2 echo collect.cmd: collecting failed (see above); nothing of it is left.
if exist "%WORK%" rd /s /q "%WORK%"

:end
if defined WAIT pause
exit /b %STATUS%
