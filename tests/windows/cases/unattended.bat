@echo off
rem Started as unattended callers start it: a console without a window has
rem nobody to press a key, and no standard output is nowhere to show.
set ZARVO_LOG=%CD%\run.log
launcher nowindow zarvo.exe /P
launcher nowindow zarvo.exe /P:2 /E:4
launcher detached zarvo.exe detached
launcher nohandles zarvo.exe "no handles"
rem A blank ZARVO_LOG (the blank after = is meant) means no log; a path
rem that ends in a blank is named in quotes.
set ZARVO_LOG= 
zarvo blank 2>&1
set ZARVO_LOG=no\such.log 
zarvo /LO lost 2>&1
