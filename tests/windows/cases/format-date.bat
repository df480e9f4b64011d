@echo off
rem Every date and time format under the fixed clock of the test.
zarvo "%%d|%%1d|%%2d|%%3d|%%4d|%%5d|%%6d|%%7d|%%8d|%%9d" /F
zarvo "%%t|%%1t" /F
zarvo "Backup %%6d.zip" /F
