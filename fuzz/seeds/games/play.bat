@echo off
cd /d "%~dp0DOSBox"
start "" /wait dosbox.exe -conf "%~dp0game.conf" -noconsole
