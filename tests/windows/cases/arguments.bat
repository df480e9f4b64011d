@echo off
rem Arguments as cmd.exe and the C runtime hand them over: quotes keep
rem blanks, wildcards stay as typed, percent signs need /F to mean a date.
zarvo "two  blanks"
zarvo *.exe
zarvo "%%d stays"
zarvo
echo no message gives %errorlevel%
