@echo off
rem Opens the page of an "alert:" link in Internet Explorer.
rem Called by the alert URL protocol as:  openIE.bat "alert:http://host/path?query"
rem Only http:// and https:// addresses are opened; anything else is ignored.
setlocal EnableExtensions DisableDelayedExpansion
set "target=%~1"
if not defined target exit /b 1

rem From here on the address is only expanded late (!target!), so characters such as
rem & | < > ^ %% in it are never parsed as commands.
setlocal EnableDelayedExpansion
if /i "!target:~0,6!"=="alert:" set "target=!target:~6!"

rem A double quote would end the quoted argument below: refuse such an address.
set "unquoted=!target:"=!"
if not "!unquoted!"=="!target!" exit /b 1

set "allowed="
if /i "!target:~0,7!"=="http://" set "allowed=1"
if /i "!target:~0,8!"=="https://" set "allowed=1"
if not defined allowed exit /b 1

set "browser=%ProgramFiles%\Internet Explorer\iexplore.exe"
if not exist "!browser!" set "browser=%ProgramFiles(x86)%\Internet Explorer\iexplore.exe"
start "" "!browser!" "!target!"
endlocal
endlocal
exit /b 0
