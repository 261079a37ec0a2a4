@rem Takes back the last run of confmend: every file it changed gets its old bytes back.
@"%~dp0confmend.exe" --undo
