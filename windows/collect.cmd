@echo off
rem Collects what a support engineer needs to replay this machine with adapter_report: the tool's
rem own report, the list of the devices present now (which the registry alone does not tell), and
rem the two registry keys the tool reads, the devices (Enum) and their drivers (Control\Class).
rem   collect.cmd [FOLDER]   (default: adapter_report-%COMPUTERNAME% beside this script, or the
rem                           first of adapter_report-%COMPUTERNAME%-2, -3, ... that is free)
rem Double-click it in the folder that holds adapter_report.exe and present_devices.exe: not
rem elevated, it asks for elevation (the UAC prompt) and goes on in an elevated window. The files
rem are written to FOLDER.partial, which takes FOLDER's name only when every file in it is there
rem and whole; on failure the script removes what it made and nothing else, except when that
rem rename alone fails: then FOLDER.partial, complete, is kept for the user to rename.
rem
rem Written for every cmd.exe from Windows 7 on, and for Wine's:
rem - Delayed expansion is switched off, whatever the registry says (Command Processor
rem   DelayedExpansion), so that a "!" in a path stays.
rem - Paths are only ever expanded inside double quotes, never handed to CALL (which expands them
rem   a second time) nor pasted into another language's quotes, so that blanks, apostrophes,
rem   parentheses, ampersands, exclamation and percent signs and non-ASCII letters pass unchanged.
rem   Windows' cmd expands a batch line once; Wine 8's drops a lone percent sign from any
rem   expanded text, so there a path with one cannot work.
rem - Each step's exit status is tested on a line of its own, not with "||", which Wine 8's cmd
rem   runs after a command that succeeded too (seen with reg export ... /y).
rem - A redirection whose file cannot be created (a directory of that name, Controlled Folder
rem   Access, an antivirus) prints an error, does not run the command and leaves %errorlevel% as
rem   it was (public reports: Stack Overflow, "File redirection in Windows and %errorlevel%" and
rem   "Why is ErrorLevel set only after || operator upon a failed redirection?"; Wine 8 does the
rem   same), so each file written is checked afterwards: there, a file and not empty.
rem - reg, cmd and ping by their full paths under %SystemRoot%\System32: "Run as administrator"
rem   and the elevated window start in System32, and nothing is looked up through the current
rem   directory or PATH.
setlocal EnableExtensions DisableDelayedExpansion
rem The script's own folder, with its trailing backslash.
set "HERE=%~dp0"
set "SYSTEM32=%SystemRoot%\System32"
set "STATUS=2"
set "HANDED="
rem setlocal keeps the caller's environment: a WORK or FAULT of the user's own would be taken for
rem the script's (and a WORK removed on a failure), so every name it tests is cleared first: here,
rem or on a line of its own before the first test.
for %%V in (WORK OUT PARENT EMPTY_TOO FAULT LOG CODE FILE ELEVATED AGAIN TRIES NAME NUMBER BASE LEAF KEY ATTRIBUTES SIZE AFTER) do set "%%V="
rem /restarted, /restarted-clicked: this run is the elevated one that present_devices /elevate
rem started (below), from a first run that was not a double-click, or was (then it waits at its
rem end: WAIT, see :end).
set "RESTARTED="
set "WAIT="
set "ASKED="
if "%~1"=="/restarted-clicked" set "WAIT=1"
if "%~1"=="/restarted-clicked" set "RESTARTED=1"
if "%~1"=="/restarted" set "RESTARTED=1"
if not defined RESTARTED goto :clicked
set "ASKED=1"
shift

:clicked
rem Explorer runs a double-clicked script as  cmd /c ""<script>" "  (the open verb of cmdfile,
rem HKEY_CLASSES_ROOT\cmdfile\shell\open\command, is "%1" %*: the empty %* leaves the blank;
rem public report: microsoft/terminal#2419). PowerShell, .NET and the Task Scheduler start it
rem through CreateProcess, which gives  cmd /c "<script>" , without it; from a prompt cmdcmdline is the
rem prompt's own line. Only the first may pause at the end, and only when the console is the
rem script's own (see :end): a scheduled task also gets a console of its own, and a pause there
rem would wait for ever. Wine 8's cmd has no cmdcmdline, and the substitution of an undefined
rem variable leaves a quote, hence the second pass, and an equals sign, which its "if" takes for
rem a syntax error between quotes unless something comes before it.
set "CLICKED="
set "LINE=%cmdcmdline:"=%"
if not defined LINE set "LINE=-"
set "LINE=%LINE:"=%"
set "AFTER=%LINE:*/c =%"
if defined RESTARTED goto :arguments
if not "%~1"=="" goto :arguments
if /i "x%AFTER%"=="x%~f0 " set "CLICKED=1"

:arguments
if "%~1"=="/?" goto :usage
if not "%~2"=="" goto :usage
set "OUT=%~1"
set "GIVEN="
if defined OUT set "GIVEN=1"
rem The full path, without trailing backslashes (else FOLDER\ would give FOLDER\.partial); taken
rem here, before elevation, as the elevated window starts in System32.
if not defined GIVEN goto :resolved
for %%P in ("%OUT%\.") do set "OUT=%%~fP"
:resolved

rem Opened from inside the zip, Explorer extracts the script alone to a temporary folder.
if not exist "%HERE%adapter_report.exe" goto :alone
if not exist "%HERE%present_devices.exe" goto :alone

rem The process token tells whether the prompt is elevated, whatever services run ("net session"
rem needs the Server service, which hardened machines disable).
rem A program that crashes ends with an NTSTATUS code, negative to cmd, which "if errorlevel N"
rem (at least N) takes for success: every exit status is compared whole. 40 (not elevated) and 41
rem (cannot tell) are statuses cmd never gives a program it could not start, as it does when a
rem policy or an antivirus blocks it (present_devices.h): anything else is such a program.
"%HERE%present_devices.exe" /elevated
set "ELEVATED=%errorlevel%"
if "%ELEVATED%"=="0" goto :elevated
if "%ELEVATED%"=="41" goto :unknown_elevation
if not "%ELEVATED%"=="40" goto :blocked_present
if defined RESTARTED goto :still_not_elevated

rem Not elevated: present_devices asks Windows to run this script again elevated, through the UAC
rem prompt, and waits for it. It never goes through the runas verb of .cmd files,
rem HKEY_CLASSES_ROOT\cmdfile\shell\runas\command, cmd.exe /C "%1" %*, whose quotes cmd removes
rem when the path holds & < > ( ) @ ^ | or no blank, so that the path splits (cmd /?, "If /C or /K
rem is specified"; public reports: microsoft/terminal#2419, Atlas-OS/Atlas#224; the folder a
rem second download extracts to ends in " (1)"). The elevated script runs in
rem a window of its own, which waits for a key at its end when this one would have (:end), a
rem double-click: started otherwise, nobody may be there, and this run waits for it to end.
rem present_devices says, just before the prompt opens, to answer it.
call :pause_wanted
set "AGAIN=/restarted"
if defined WAIT set "AGAIN=/restarted-clicked"
if defined GIVEN "%HERE%present_devices.exe" /elevate "%~f0" %AGAIN% "%OUT%"
if not defined GIVEN "%HERE%present_devices.exe" /elevate "%~f0" %AGAIN%
set "STATUS=%errorlevel%"
rem 3: nothing ran elevated, and present_devices said why.
if "%STATUS%"=="3" goto :not_elevated
set "HANDED=1"
rem A console window closed by its user ends its processes with STATUS_CONTROL_C_EXIT, 0xC000013A
rem (Microsoft, "NTSTATUS Values"; "HandlerRoutine callback function", CTRL_CLOSE_EVENT).
if "%STATUS%"=="-1073741510" goto :closed
if not "%STATUS%"=="0" echo collect.cmd: the elevated window ended with exit status %STATUS%; it said why.
if "%STATUS%"=="0" echo collect.cmd: done in the elevated window.
goto :end

:elevated
if defined GIVEN goto :named
rem The first free name: a second collection needs no argument. A FOLDER.partial left by an
rem interrupted run is passed over too, never removed.
set "BASE=%HERE%adapter_report-%COMPUTERNAME%"
set "OUT=%BASE%"
set "NUMBER=1"
:next_name
if not exist "%OUT%" if not exist "%OUT%.partial" goto :named
set /a NUMBER+=1
if %NUMBER% gtr 99 goto :no_free_name
set "OUT=%BASE%-%NUMBER%"
goto :next_name

:named
for %%P in ("%OUT%") do set "PARENT=%%~dpP"
set "WORK=%OUT%.partial"
if exist "%OUT%" goto :out_exists
if exist "%WORK%" goto :work_exists
rem A drive's root is there if the drive is (Wine 8's "if exist" finds no root).
if not "%PARENT:~1%"==":\" if not exist "%PARENT%" goto :no_parent
mkdir "%WORK%"
if not exist "%WORK%\" goto :cannot_create
set "STATUS=1"
set "LOG=%WORK%\collect.log"
> "%LOG%" echo collect.cmd on %COMPUTERNAME%, %DATE% %TIME%: what failed, for support.
set "FILE=collect.log"
call :whole
if defined FAULT goto :failed

echo Running adapter_report.exe...
"%HERE%adapter_report.exe" > "%WORK%\report.txt"
set "CODE=%errorlevel%"
if not "%CODE%"=="0" goto :blocked_tool
rem A machine without the maker's adapters gives an empty report.
set "FILE=report.txt"
set "EMPTY_TOO=1"
call :whole
set "EMPTY_TOO="
if defined FAULT goto :failed

echo Listing the devices present now...
"%HERE%present_devices.exe" > "%WORK%\present.csv"
set "CODE=%errorlevel%"
if "%CODE%"=="2" goto :list_failed
if not "%CODE%"=="0" goto :blocked_present_list
set "FILE=present.csv"
call :whole
if defined FAULT goto :failed

rem The registry: the two keys the tool reads, each as reg save writes it, else as reg export
rem writes it; never the whole SYSTEM hive, which also holds the boot key that decrypts the SAM
rem and SECURITY hives, services' credentials and network settings. reg save of a key writes a
rem hive of that subtree alone, its root key named after the key. It reads with backup semantics:
rem the "Back up files and directories" right lets it past key permissions (Microsoft, "Back up
rem files and directories" policy setting), such as the Enum\...\Properties keys Windows 7 lets
rem SYSTEM alone read, where whether reg export stops with "Access is denied" is not documented.
rem Wine's reg has no save ("Invalid option"), so the exports are the route there, and the one
rem the round trip under Wine tests. reg's own messages go to collect.log.
echo Saving the device keys (Enum); this can take a minute...
set "KEY=HKLM\SYSTEM\CurrentControlSet\Enum"
set "NAME=enum"
call :save_key
if defined FAULT goto :failed
echo Saving the driver keys (Control\Class)...
set "KEY=HKLM\SYSTEM\CurrentControlSet\Control\Class"
set "NAME=class"
call :save_key
if defined FAULT goto :failed

rem The rename fails while another program holds a file in the folder open: an antivirus or the
rem search indexer reading the new files, OneDrive uploading them. It is tried again for about
rem ten seconds. Nothing is redirected into the folder meanwhile, which would hold it open too.
set "TRIES=0"
echo Naming the folder...
:rename
rem Something that took the name meanwhile would have the folder moved into it, or replaced.
if exist "%OUT%" goto :rename_failed
move "%WORK%" "%OUT%" >nul 2>nul
if exist "%OUT%\report.txt" if not exist "%WORK%" goto :collected
set /a TRIES+=1
if %TRIES% geq 6 goto :rename_failed
rem ping waits about a second between its echoes; timeout needs a console it can read keys from.
"%SYSTEM32%\ping.exe" -n 3 127.0.0.1 >nul 2>nul
goto :rename

:collected
echo Collected in "%OUT%".
echo Send that folder, zipped (right-click it, Send to, Compressed (zipped) folder), to support.
echo It holds the devices this machine has ever had attached, USB drives' serial numbers among
echo them: README.txt lists what each file holds.
set "STATUS=0"
goto :end

rem Saves KEY as NAME.hiv, else exports it as NAME.reg; sets FAULT when neither is whole. Takes
rem its inputs from the environment: CALL would expand a path given as an argument once more.
:save_key
"%SYSTEM32%\reg.exe" save "%KEY%" "%WORK%\%NAME%.hiv" /y >> "%LOG%" 2>&1
set "CODE=%errorlevel%"
set "FILE=%NAME%.hiv"
if "%CODE%"=="0" call :whole
if "%CODE%"=="0" if not defined FAULT goto :eof
>> "%LOG%" echo reg save %KEY% failed (exit status %CODE%): exported instead.
if exist "%WORK%\%NAME%.hiv" del /f /q "%WORK%\%NAME%.hiv"
"%SYSTEM32%\reg.exe" export "%KEY%" "%WORK%\%NAME%.reg" /y >> "%LOG%" 2>&1
set "CODE=%errorlevel%"
set "FILE=%NAME%.reg"
call :whole
if defined FAULT goto :eof
if "%CODE%"=="0" goto :eof
set "FAULT=reg export %KEY% failed (exit status %CODE%)"
goto :eof

rem Sets FAULT when FILE in the folder is missing, a folder, or empty (unless EMPTY_TOO). Its attributes tell a folder
rem ("d" first), and are empty for nothing at all; "if exist NAME\" cannot tell: Wine 8's finds a
rem file that way too.
:whole
set "FAULT="
set "ATTRIBUTES="
set "SIZE="
for %%F in ("%WORK%\%FILE%") do set "ATTRIBUTES=%%~aF"
for %%F in ("%WORK%\%FILE%") do set "SIZE=%%~zF"
if not defined ATTRIBUTES set "FAULT="%FILE%" could not be written (Controlled Folder Access or an antivirus may have refused it)"
if defined FAULT goto :eof
if "%ATTRIBUTES:~0,1%"=="d" set "FAULT="%FILE%" is a folder, not a file: it could not be written"
if defined FAULT goto :eof
if not defined EMPTY_TOO if "%SIZE%"=="0" set "FAULT="%FILE%" is empty: it could not be written whole"
goto :eof

:usage
if "%~1"=="/?" set "STATUS=0"
echo Collects what support needs to replay this machine's adapter report.
echo   collect.cmd [FOLDER]
echo Double-click collect.cmd: it asks for administrator rights, then writes the folder
echo adapter_report-%COMPUTERNAME% beside itself (or -2, -3, ... when that exists).
echo From a prompt, FOLDER names another folder, which must not exist yet.
goto :end

:alone
>&2 echo collect.cmd: adapter_report.exe and present_devices.exe are not beside this script, in "%HERE%".
if not "%HERE:.zip\=%"=="%HERE%" >&2 echo collect.cmd: it seems to have been opened from inside the zip, which extracts it alone.
>&2 echo collect.cmd: extract the whole zip first (right-click it, Extract All), then double-click collect.cmd there.
goto :end

:blocked_present
>&2 echo collect.cmd: present_devices.exe could not run (exit status %ELEVATED%; Windows may have said why above).
goto :blocked_advice
:blocked_present_list
>&2 echo collect.cmd: present_devices.exe did not run to its end (exit status %CODE%).
goto :blocked_advice
:blocked_tool
>&2 echo collect.cmd: adapter_report.exe did not run to its end (exit status %CODE%).
:blocked_advice
>&2 echo collect.cmd: Windows (Smart App Control, an application control policy) or an antivirus may be blocking it.
>&2 echo collect.cmd: if the zip was downloaded, unblock it first (right-click the zip, Properties, Unblock), extract it again,
>&2 echo collect.cmd: or ask your administrator to allow the two programs.
if not defined WORK goto :end
goto :failed

:list_failed
>&2 echo collect.cmd: present_devices.exe could not list the devices (see above).
goto :failed

:not_elevated
>&2 echo collect.cmd: nothing was collected.
set "STATUS=2"
goto :end

:unknown_elevation
>&2 echo collect.cmd: present_devices.exe could not tell whether this window is elevated (see above); nothing was collected.
goto :end

:closed
>&2 echo collect.cmd: the elevated window was closed before it finished; a folder it left ending in .partial is incomplete.
goto :end

:still_not_elevated
>&2 echo collect.cmd: the window Windows opened for it is not elevated either; nothing was collected.
goto :end

:no_free_name
>&2 echo collect.cmd: adapter_report-%COMPUTERNAME% and -2 to -99 all exist beside collect.cmd: move some away.
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
>&2 echo collect.cmd: "%WORK%" cannot be created: the folder may be read-only, or Controlled Folder Access or an
>&2 echo collect.cmd: antivirus may refuse it; move the extracted folder to your Desktop and run collect.cmd there.
goto :end

:rename_failed
rem Everything is collected and checked: the folder is kept, never removed, and named to the user.
for %%P in ("%OUT%") do set "LEAF=%%~nxP"
>&2 echo collect.cmd: everything was collected, complete, in "%WORK%",
>&2 echo collect.cmd: but it could not be renamed: "%OUT%" exists, or another program (an antivirus,
>&2 echo collect.cmd: OneDrive, the search indexer) kept a file in it open for ten seconds.
>&2 echo collect.cmd: Rename that folder "%LEAF%" yourself (right-click it, Rename) and send it.
goto :end

:failed
if defined FAULT >&2 echo collect.cmd: %FAULT%.
>&2 echo collect.cmd: collecting failed; nothing of it is left. Run collect.cmd again, or send support these lines.
if exist "%WORK%" rd /s /q "%WORK%"
if exist "%WORK%" >&2 echo collect.cmd: "%WORK%" could not be removed: remove it by hand.

:end
rem The script waits for a key at its end only after a double-click, whose window closes at once
rem otherwise: started by Explorer (CLICKED) in a console of its own, and in the elevated window
rem of such a run (/restarted-clicked). Never from a prompt, PowerShell, a management agent or a
rem scheduled task, where nobody may be there to press the key; nor when it handed over to the
rem elevated window, which waits instead.
if defined HANDED exit /b %STATUS%
if not defined ASKED call :pause_wanted
if defined WAIT pause
exit /b %STATUS%

rem Sets WAIT when a double-click started this run and present_devices /console does not say that
rem the console is shared (42). Blocked, present_devices ends with a status of cmd's own, never 42:
rem the double-click alone then decides, and the message saying so stays on screen.
:pause_wanted
set "ASKED=1"
set "WAIT="
if not defined CLICKED goto :eof
set "WAIT=1"
if not exist "%HERE%present_devices.exe" goto :eof
"%HERE%present_devices.exe" /console >nul 2>nul
if "%errorlevel%"=="42" set "WAIT="
goto :eof
