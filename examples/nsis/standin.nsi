; A stand-in for the suite's own utilities (Product & CAD Configuration, File
; Association), which the sample has none of. shortcut_installer.exe makes a
; shortcut to each of them whether or not it exists; the sample installs this
; program at their places so that no shortcut it leaves leads nowhere. Your
; suite's setup installs the real programs there instead.
; Built by nimba_sample_suite.nsi (!makensis) with -DOUTFILE=<the program to write>.

!ifndef OUTFILE
  !error "makensis -DOUTFILE=<program.exe> standin.nsi"
!endif

Unicode true
Name "NIMBA Sample Suite"
OutFile "${OUTFILE}"
RequestExecutionLevel user
SilentInstall silent
SetCompressor /SOLID lzma

Section
  MessageBox MB_ICONINFORMATION|MB_OK "This program stands in for a utility of the NIMBA suite:$\r$\n$EXEPATH$\r$\n$\r$\nThe suite's own setup installs the real one here."
SectionEnd
