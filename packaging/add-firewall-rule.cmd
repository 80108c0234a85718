@echo off
rem Lets lumiload.exe, the program that binds UDP port 6454, receive Art-Net
rem through Windows Defender Firewall on every network profile (a network
rem without a gateway is Public). Run as administrator.
rem The inbound rules for this lumiload.exe go first: a rule that blocks it,
rem as "Cancel" in Windows' prompt leaves, wins over any rule that allows it.
netsh advfirewall firewall delete rule name=all dir=in program="%~dp0lumiload.exe" >nul
netsh advfirewall firewall add rule name="lumiload Art-Net" dir=in action=allow program="%~dp0lumiload.exe" protocol=UDP localport=6454 profile=any
if errorlevel 1 (
  echo Adding the rule failed: run this file as administrator.
) else (
  echo Rule "lumiload Art-Net" added for %~dp0lumiload.exe on every network profile
)
pause
