@echo off
rem /N empties the log in place, or leaves it alone; NUL and quotes.
set ZARVO_LOG=%CD%\keep.log
zarvo "old entry" /LO
mklink /H twin.log keep.log >nul
zarvo "fresh" /N /LO
type twin.log
echo audit> ro.log
attrib +r ro.log
set ZARVO_LOG=%CD%\ro.log
zarvo "refused" /N 2>&1
type ro.log
set ZARVO_LOG=NUL
zarvo "silent" /N 2>&1
mkdir "My Logs"
set ZARVO_LOG="%CD%\My Logs"\t2.log
zarvo "quoted" /LO 2>&1
type "My Logs\t2.log"
set ZARVO_LOG=""
zarvo "no log" 2>&1
