@echo off
rem The exit code comes back to the batch file as %errorlevel%.
zarvo /E:300
echo /E:300 gives %errorlevel%
zarvo /E:-2
echo /E:-2 gives %errorlevel%
zarvo "Done" /E:7
echo /E:7 gives %errorlevel%
if errorlevel 7 echo if errorlevel 7 holds
if not errorlevel 8 echo if errorlevel 8 does not
zarvo "x" /R:0 /E:7 >nul
echo a syntax error gives %errorlevel%
zarvo /? >nul
echo help gives %errorlevel%
zarvo /E:5 >nul
zarvo "plain"
echo a run without /E: gives %errorlevel%
