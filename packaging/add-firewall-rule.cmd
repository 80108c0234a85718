@echo off
rem Lets lumiload.exe receive Art-Net (UDP port 6454) through Windows
rem Defender Firewall. Run as administrator.
netsh advfirewall firewall add rule name="lumiload Art-Net" dir=in action=allow program="%~dp0lumiload.exe" protocol=UDP localport=6454 profile=any
if errorlevel 1 (
  echo Adding the rule failed: run this file as administrator.
) else (
  echo Rule "lumiload Art-Net" added for %~dp0lumiload.exe
)
pause
