@echo off
rem Run unattended; ZARVO_LOG blank (meant), then ending in a blank.
set ZARVO_LOG=%CD%\run.log
launcher nowindow zarvo.exe /P
launcher nowindow zarvo.exe /P:2 /E:4
launcher detached zarvo.exe detached
set ZARVO_LOG= 
zarvo blank 2>&1
set ZARVO_LOG=no\such.log 
zarvo /LO lost 2>&1
