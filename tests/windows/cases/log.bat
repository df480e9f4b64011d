@echo off
rem The log named by ZARVO_LOG, as bytes: two runs, then /N starts afresh.
mkdir "logs dir"
set ZARVO_LOG=%CD%\logs dir\run.log
zarvo "first entry"
zarvo "second" /SN /LO
zarvo " continued" /DO
zarvo " and more" /LO
echo --- the log after three entries:
type "logs dir\run.log"
echo --- end
zarvo "fresh start" /N
zarvo "line 1\nline 2\r\n" /F /LO
move "logs dir\run.log" run.log >nul
rem Logging off: no file anywhere.
set ZARVO_LOG=
zarvo "not logged" /N
if exist "logs dir\run.log" echo a log was written without ZARVO_LOG
rem A folder that does not exist: nothing is logged, the run goes on.
set ZARVO_LOG=%CD%\missing\run.log
zarvo "lost" /E:4
echo lost entry gives %errorlevel%
if exist missing echo the missing folder was created
