@echo off
rem Saved in code page 437, as batch files with box-drawing banners are;
rem the log path quoted, as cmd users write one with blanks in it.
mkdir "My Logs"
set ZARVO_LOG="%CD%\My Logs\run.log"
zarvo "ÚÄÄÄ box ÄÄÄ sigma ä shade ° pi ã check û ÄÄÄ¿"
zarvo "ÀÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÙ" /LO
move "My Logs\run.log" run.log >nul
