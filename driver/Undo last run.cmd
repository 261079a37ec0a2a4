@rem Takes back the last run of confmend: every file it changed gets its old bytes back.
@rem confmend pauses before it ends; where it cannot start, or is ended by force, the window
@rem must stay open all the same, so that what went wrong can be read.
@if not exist "%~dp0confmend.exe" (
  echo confmend.exe is not in this folder: this command starts the confmend.exe beside it.
  pause
  exit /b 1
)
@"%~dp0confmend.exe" --undo %*
@if %errorlevel% neq 0 if %errorlevel% neq 1 if %errorlevel% neq -1 pause
