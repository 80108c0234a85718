@echo off
rem Starts lumidesk.exe in its own folder, where it finds lumiload.exe.
cd /d "%~dp0"
start "" lumidesk.exe %*
