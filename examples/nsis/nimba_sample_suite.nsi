; A small sample of an NSIS setup for the NIMBA suite: it lays out the suite tree
; that shortcut_installer.exe and shortcut_remover.exe expect, runs the installer
; once the files are copied and the remover before they are deleted. It installs
; the same tree as the sample Windows Installer package (examples/msi), whose
; relinfo.xml it takes. Start your own setup from here.
;
; Built by examples/nsis/build_nsis.sh with makensis 3.08 (Debian package nsis).
; Defines (makensis -DNAME=VALUE):
;   BIN       folder holding the two programs                      (required)
;   OUTFILE   the setup to write                                   (required)
;   PER_USER  set: for the installing user alone, no administrator needed;
;             unset: for all users, run by an administrator
;   RELINFO   the relinfo.xml to ship     default ../msi/relinfo.xml
; Silent runs: setup.exe /S, Uninstall.exe /S.

!ifndef BIN | OUTFILE
  !error "makensis -DBIN=<folder of the programs> -DOUTFILE=<setup.exe> nimba_sample_suite.nsi"
!endif
!ifndef RELINFO
  !define RELINFO "../msi/relinfo.xml"
!endif
; The revision shown in Add/Remove Programs is the one the shortcuts carry.
!searchparse /file "${RELINFO}" `startMenuShortcutAppendRevision value="` REVISION `"`

!define PRODUCT "NIMBA Sample Suite 18.1"
; One key for every revision of the release: a newer setup finds an older one here.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The programs find the installation folder by cutting four folders off their
; own path: keep them exactly four levels below $INSTDIR.
!define SETUP_DIR "NIMBA\bin\winx64\setup"

Unicode true
Name "${PRODUCT}"
OutFile "${OUTFILE}"
SetCompressor /SOLID lzma

!ifdef PER_USER
  ; A standard user cannot write to Program Files. Both programs then run with the
  ; user's rights and use the user's Start Menu and variables.
  RequestExecutionLevel user
  InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
  !define SHELL_CONTEXT current
!else
  ; Elevated, so that the programs, which inherit the setup's rights, see an
  ; administrator and use the all-users Start Menu and machine-wide variables.
  RequestExecutionLevel admin
  InstallDir "$PROGRAMFILES\${PRODUCT}"
  !define SHELL_CONTEXT all
!endif

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; $LOCALAPPDATA and SHCTX (the Add/Remove Programs key below) follow this
; context: HKLM for all users, HKCU for the current user.
Function .onInit
  SetShellVarContext ${SHELL_CONTEXT}
FunctionEnd

Function un.onInit
  SetShellVarContext ${SHELL_CONTEXT}
FunctionEnd

Section "Suite"
  ; An installation over an older one removes the older release first, through
  ; its own uninstaller, before any new file is copied: its remover reads
  ; relinfo.xml, and after the copy it would read the new one and delete the new
  ; revision's shortcuts and variables while leaving the old ones.
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "UninstallString"
  ReadRegStr $1 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  StrCmp $0 "" no_older_release
    DetailPrint "Removing the installed release in $1"
    ; _?= makes the uninstaller run in place instead of from a temporary copy
    ; that returns at once, so that ExecWait waits for its work. It must be the
    ; unquoted end of the command line; blanks are fine there.
    ExecWait '$0 /S _?=$1'
    ; Run in place, the uninstaller cannot delete itself.
    Delete "$1\Uninstall.exe"
    RMDir "$1"
  no_older_release:

  SetOutPath "$INSTDIR\${SETUP_DIR}"
  File "${BIN}\shortcut_installer.exe"
  File "${BIN}\shortcut_remover.exe"
  ; Both programs read the Start Menu folder name and the shortcut revision
  ; suffix from here; the remover needs it still in place.
  SetOutPath "$INSTDIR\commonfiles\globalsettings"
  File "/oname=relinfo.xml" "${RELINFO}"
  ; "-INSTALL" rewrites the toolbar list here and needs the folder.
  CreateDirectory "$INSTDIR\NIMBA\gui\en-us\toolbars"
  ; The suite's "Uninstall NIMBA" shortcut points at <root>\Uninstall.exe.
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${REVISION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "NIMBA Sample"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1

  ; Last, once every file is on disk. ExecWait runs it with the setup's own rights
  ; and waits, so that a finished setup has its shortcuts. Its exit status is not
  ; read: it is always 0, and a missing shortcut must not fail the setup.
  ExecWait '"$INSTDIR\${SETUP_DIR}\shortcut_installer.exe" -INSTALL'
SectionEnd

Section "Uninstall"
  ; First, while its own file and relinfo.xml are still on disk, with the same
  ; rights the installer had: it finds the shortcuts and variables only where
  ; the installer, with that privilege, put them. Exit status ignored as above.
  ExecWait '"$INSTDIR\${SETUP_DIR}\shortcut_remover.exe"'

  DeleteRegKey SHCTX "${UNINSTALL_KEY}"

  ; Exactly what the setup and the installer put there, no RMDir /r: the folder
  ; may have been chosen by the user and hold files of others.
  Delete "$INSTDIR\${SETUP_DIR}\shortcut_installer.exe"
  Delete "$INSTDIR\${SETUP_DIR}\shortcut_remover.exe"
  RMDir "$INSTDIR\NIMBA\bin\winx64\setup"
  RMDir "$INSTDIR\NIMBA\bin\winx64"
  RMDir "$INSTDIR\NIMBA\bin"
  ; The remover leaves the toolbar list on purpose; the uninstall takes it.
  Delete "$INSTDIR\NIMBA\gui\en-us\toolbars\tlbrlist182.qel"
  RMDir "$INSTDIR\NIMBA\gui\en-us\toolbars"
  RMDir "$INSTDIR\NIMBA\gui\en-us"
  RMDir "$INSTDIR\NIMBA\gui"
  RMDir "$INSTDIR\NIMBA"
  Delete "$INSTDIR\commonfiles\globalsettings\relinfo.xml"
  RMDir "$INSTDIR\commonfiles\globalsettings"
  RMDir "$INSTDIR\commonfiles"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
