@echo off
rem Sets up COM's DLL surrogate for a control registered as an in-process server (regsvr32), so
rem that a 64-bit JVM reaches a 32-bit control out of process: COM runs the control in dllhost.exe
rem and hands the JVM a proxy. Undoes it again.
rem
rem   jtrazelo-surrogate register   [/64] [{CLSID} ...]
rem   jtrazelo-surrogate unregister [/64] [{CLSID} ...]
rem
rem Without a CLSID: ScanMontura's, {834FBEE5-D957-11D3-9C50-0060972F00DC}. Several CLSIDs share the
rem AppID of the first, and so one surrogate process (classes that must meet, such as a control and
rem its helper objects).
rem
rem Without /64 the control is a 32-bit one, registered with C:\Windows\SysWOW64\regsvr32.exe, and
rem the keys go to the 32-bit view of the registry (reg /reg:32), the one that registration is in:
rem   HKCR\AppID\{first}     DllSurrogate = ""       (COM's own surrogate, of the control's bitness)
rem   HKCR\CLSID\{each}      AppID = {first}
rem /64: a 64-bit control that a 64-bit JVM is to keep out of its own process (with the runtime
rem setting EZJCOM_SERVER=local): the same keys in the 64-bit view, with DllSurrogate naming the
rem 64-bit dllhost.exe, which COM starts with the same arguments as its own surrogate (some COM
rem implementations start the 32-bit one for an empty value).
rem
rem register refuses a CLSID that is not registered in that view, or whose AppID names another
rem application; unregister deletes exactly what register wrote, and leaves an AppID value that
rem names another application alone. Run from an administrator's command prompt.
rem Exit status: 0 done, 1 refused or failed, 2 wrong usage.
setlocal
set "action=%~1"
set "view=/reg:32"
set "surrogate="
set "first="
set "classes="
if /i "%action%"=="register" goto options
if /i "%action%"=="unregister" goto options
goto usage

:options
shift
if "%~1"=="" goto parsed
if /i "%~1"=="/64" (
  set "view=/reg:64"
  set "surrogate=%SystemRoot%\System32\dllhost.exe"
  goto options
)
set "classes=%classes% %~1"
if not defined first set "first=%~1"
goto options

:parsed
if not defined first (
  set "first={834FBEE5-D957-11D3-9C50-0060972F00DC}"
  set "classes= {834FBEE5-D957-11D3-9C50-0060972F00DC}"
)
if /i "%action%"=="unregister" goto unregister

rem ---- register: check every class first, then write ----
set "refused="
for %%c in (%classes%) do call :check %%c
if defined refused exit /b 1
reg add "HKCR\AppID\%first%" /v DllSurrogate /t REG_SZ /d "%surrogate%" /f %view% >nul
if errorlevel 1 goto failed
set "refused="
for %%c in (%classes%) do call :point %%c
if defined refused goto failed
echo %first%: DllSurrogate set up (%view%) for%classes%
exit /b 0

:check
reg query "HKCR\CLSID\%~1\InprocServer32" %view% >nul 2>&1
if errorlevel 1 (
  echo %~1 is not registered as an in-process server in this view ^(%view%^): register it with regsvr32 first 1>&2
  set "refused=1"
  exit /b 1
)
call :own_appid %~1
if errorlevel 2 (
  echo %~1 has the AppID of another application: left alone 1>&2
  set "refused=1"
  exit /b 1
)
exit /b 0

:point
reg add "HKCR\CLSID\%~1" /v AppID /t REG_SZ /d "%first%" /f %view% >nul
if errorlevel 1 set "refused=1"
exit /b 0

rem ---- unregister ----
:unregister
for %%c in (%classes%) do call :unpoint %%c
reg query "HKCR\AppID\%first%" %view% >nul 2>&1
if errorlevel 1 goto removed
reg delete "HKCR\AppID\%first%" /f %view% >nul
if errorlevel 1 goto failed
:removed
echo %first%: DllSurrogate removed (%view%) for%classes%
exit /b 0

:unpoint
call :own_appid %~1
if errorlevel 2 exit /b 0
if errorlevel 1 reg delete "HKCR\CLSID\%~1" /v AppID /f %view% >nul
exit /b 0

rem Exit status 0: the class has no AppID value; 1: it names %first%; 2: it names another.
:own_appid
set "appid="
for /f "tokens=1,2,*" %%a in ('reg query "HKCR\CLSID\%~1" /v AppID %view% 2^>nul') do (
  if /i "%%a"=="AppID" set "appid=%%c"
)
if not defined appid exit /b 0
if /i "%appid%"=="%first%" exit /b 1
exit /b 2

:failed
echo reg.exe failed: run from an administrator's command prompt 1>&2
exit /b 1

:usage
echo usage: jtrazelo-surrogate register^|unregister [/64] [{CLSID} ...] 1>&2
exit /b 2
