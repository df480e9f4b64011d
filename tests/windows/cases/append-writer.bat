@echo off
rem One of two jobs that append to the same log at the same time.
set ZARVO_LOG=%CD%\run.log
for /L %%i in (10,1,39) do zarvo "%1 %%i abcdefghijklmnopqrstuvwxyz0123456789" /R:4 /LO
