@echo off
rem A countdown writes its digits, backspaces and blanks; without a console
rem keyboard /P returns at once and /P:n counts down to the end.
zarvo "Wait" /T:2
zarvo "Key" /P
echo /P without a console returned
zarvo "Count" /P:2 /SC
zarvo "One" /T:1 /SC /E:3
echo /T:1 /SC gives %errorlevel%
