@echo off
rem /SN leaves the cursor behind the message for the next command.
zarvo "Step 1" /SN
echo  done
zarvo "Step 2" /SN & echo  done
zarvo "Copying" /SN
zarvo "..." /SN
zarvo " ok"
