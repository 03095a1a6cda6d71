; A small sample of an NSIS setup for the NIMBA suite: it lays out the suite tree
; that shortcut_installer.exe and shortcut_remover.exe expect, runs the installer
; once the files are copied and the remover before they are deleted. It installs
; the same tree as the sample Windows Installer package (examples/msi), whose
; relinfo.xml it takes. Start your own setup from here; examples/README.md has
; the rules behind it.
;
; Built by examples/nsis/build_nsis.sh with Debian's makensis (package nsis). It
; must carry the fix for the uninstaller's temporary folder (CVE-2023-37378):
; NSIS 3.09 or later, or Debian 12's 3.08-3+deb12u1 or a later Debian revision.
; build_nsis.sh refuses plain 3.08 and older.
; Defines (makensis -DNAME=VALUE):
;   BIN       folder holding the two programs                      (required)
;   OUTFILE   the setup to write                                   (required)
;   PER_USER  set: for the installing user alone, run without administrator
;             rights; unset: for all users, run by an administrator
;   RELINFO   the relinfo.xml to ship     default ../msi/relinfo.xml
;   VERSION   the dotted version shown in Add/Remove Programs       default 18.1.1
; Silent runs: setup.exe /S, Uninstall.exe /S.
;
; Exit codes, for deployment tools (the same for the uninstaller):
;   0  installed (removed)
;   1  cancelled by the user
;   2  stopped: shortcut_installer.exe or shortcut_remover.exe could not be
;      started or ended with a status other than 0, the installed release's
;      uninstaller failed, or (for all users) a folder of the tree could not be
;      locked to administrators; the detail view names which
;   3  refused, nothing changed: this setup is for the other kind of account
;      (the all-users one needs an administrator, the per-user one must run
;      without administrator rights)

!ifndef BIN | OUTFILE
  !error "makensis -DBIN=<folder of the programs> -DOUTFILE=<setup.exe> nimba_sample_suite.nsi"
!endif
!ifndef RELINFO
  !define RELINFO "../msi/relinfo.xml"
!endif
!ifndef VERSION
  !define VERSION "18.1.1"
!endif
; The revision the shortcuts carry, shown in Add/Remove Programs beside the version.
!searchparse /file "${RELINFO}" `startMenuShortcutAppendRevision value="` REVISION `"`

!define PRODUCT "NIMBA Sample Suite 18.1"
; One key for every revision of the release: a newer setup finds an older one here.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The programs find the installation folder by cutting four folders off their
; own path: keep them exactly four levels below $INSTDIR.
!define SETUP_DIR "NIMBA\bin\winx64\setup"
; The suite's language setting: the suite or its user sets it, and the remover
; deletes it with the release's other variables.
!define LOCALE_VARIABLE "ZEP_LOCALE182"
!define SETUP_FOR_ALL_USERS "nimba_sample_suite_setup.exe"
!define SETUP_FOR_ONE_USER "nimba_sample_suite_setup_peruser.exe"
!define MACHINE_ENV_KEY "System\CurrentControlSet\Control\Session Manager\Environment"
!define EXIT_STOPPED 2
!define EXIT_WRONG_ACCOUNT 3
; The access list of every folder of the all-users tree: LocalSystem and
; Administrators full control, Users read and execute; the OWNER RIGHTS entry
; (read and execute) takes from a user who made a folder before the right to
; change its access list that an owner otherwise keeps. Protected: nothing is
; inherited from the folder above, which may let users write (a folder made
; below C:\ inherits "Authenticated Users: Modify"). Inherited by what is made
; below. Vista and later (OWNER RIGHTS, SetNamedSecurityInfoW).
!define LOCKED_FOLDER "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;OW)"
!define SE_FILE_OBJECT 1
!define SDDL_REVISION_1 1
; DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION
!define LOCK_DACL 0x80000004
!define FILE_ATTRIBUTE_DIRECTORY 0x10
!define FILE_ATTRIBUTE_REPARSE_POINT 0x400

!include LogicLib.nsh
!include WinMessages.nsh

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

; The programs choose all users or the current user by the rights they are
; started with, so a setup run with the other kind of rights would put the
; files in one scope and the shortcuts and variables in the other, where its
; uninstaller never finds them. It refuses before it changes anything.
; UserInfo answers "Admin" only for an enabled Administrators group: a UAC
; administrator's unelevated (filtered) token counts as a standard user, as it
; does for the programs.
!macro REFUSE_WRONG_ACCOUNT WHAT
  UserInfo::GetAccountType
  Pop $0
  !ifdef PER_USER
    ${If} $0 == "Admin"
      MessageBox MB_ICONSTOP|MB_OK "This ${WHAT} is for the current user alone and was started with administrator rights, with which the suite would be set up for all users.$\r$\n$\r$\nStart it without administrator rights, or install for all users with ${SETUP_FOR_ALL_USERS}." /SD IDOK
      SetErrorLevel ${EXIT_WRONG_ACCOUNT}
      Quit
    ${EndIf}
  !else
    ${If} $0 != "Admin"
      MessageBox MB_ICONSTOP|MB_OK "This ${WHAT} is for all users and needs administrator rights, without which the suite would be set up for the current user alone.$\r$\n$\r$\nStart it as an administrator, or install for yourself alone with ${SETUP_FOR_ONE_USER}." /SD IDOK
      SetErrorLevel ${EXIT_WRONG_ACCOUNT}
      Quit
    ${EndIf}
  !endif
!macroend

; Stops the setup or the uninstaller here, with the exit code EXIT_STOPPED,
; before the next step builds on what did not happen.
!macro STOP TEXT
  DetailPrint "${TEXT}"
  MessageBox MB_ICONSTOP|MB_OK "${TEXT}" /SD IDOK
  SetErrorLevel ${EXIT_STOPPED}
  Abort "${TEXT}"
!macroend

; Runs one of the suite's programs and waits for it; one that cannot be started
; or that fails stops the setup or the uninstaller.
!macro RUN_OR_STOP COMMAND WHAT
  ClearErrors
  ExecWait '${COMMAND}' $0
  ${If} ${Errors}
    !insertmacro STOP "${WHAT} could not be started."
  ${ElseIf} $0 != 0
    !insertmacro STOP "${WHAT} ended with status $0."
  ${EndIf}
!macroend

; Writes a value read before the older release was removed back into its key,
; unless it is there still; a plain string, as the suite writes it.
!macro KEEP_SETTING ROOT KEY SAVED
  ReadRegStr $4 ${ROOT} "${KEY}" "${LOCALE_VARIABLE}"
  ${If} ${SAVED} != ""
  ${AndIf} ${SAVED} != $4
    DetailPrint "Keeping ${LOCALE_VARIABLE}=${SAVED} (${ROOT})"
    WriteRegStr ${ROOT} "${KEY}" "${LOCALE_VARIABLE}" ${SAVED}
    ; Running programs, Explorer first, read the environment anew.
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
  ${EndIf}
!macroend

; $LOCALAPPDATA and SHCTX (the Add/Remove Programs key below) follow this
; context: HKLM for all users, HKCU for the current user.
Function .onInit
  !insertmacro REFUSE_WRONG_ACCOUNT "setup"
  SetShellVarContext ${SHELL_CONTEXT}
FunctionEnd

Function un.onInit
  !insertmacro REFUSE_WRONG_ACCOUNT "uninstaller"
  SetShellVarContext ${SHELL_CONTEXT}
FunctionEnd

!ifndef PER_USER
  ; The programs run elevated from this tree on every installation, upgrade and
  ; uninstall: a folder of it that a standard user may write to would let that
  ; user replace them, or the uninstaller, in between. Every folder is locked
  ; before anything is copied, each one itself, since a folder that a user made
  ; there before keeps entries of its own below a locked parent; parents come
  ; first, so that a level is made only inside one already locked. Any folder
  ; that cannot be made or locked stops the setup.

  ; Makes the folder $R0 when missing and gives it the access list $R9 (of the
  ; descriptor $R8). A folder below $INSTDIR that is a link (a junction that
  ; another user planted) would lead the copy and the lock elsewhere: it stops
  ; the setup. $INSTDIR itself, the administrator's choice, is followed.
  Function LockFolder
    CreateDirectory $R0
    System::Call 'kernel32::GetFileAttributesW(w R0) i .R1'
    IntOp $R2 $R1 & ${FILE_ATTRIBUTE_DIRECTORY}
    ${If} $R1 = -1
    ${OrIf} $R2 = 0
      System::Call 'kernel32::LocalFree(p R8)'
      !insertmacro STOP "The folder $R0 could not be made."
    ${EndIf}
    IntOp $R2 $R1 & ${FILE_ATTRIBUTE_REPARSE_POINT}
    ${If} $R2 <> 0
    ${AndIf} $R0 != $INSTDIR
      System::Call 'kernel32::LocalFree(p R8)'
      !insertmacro STOP "The folder $R0 is a link to another place: the suite is not installed through it."
    ${EndIf}
    System::Call 'advapi32::SetNamedSecurityInfoW(w R0, i ${SE_FILE_OBJECT}, i ${LOCK_DACL}, p 0, p 0, p R9, p 0) i .R2'
    ${If} $R2 <> 0
      System::Call 'kernel32::LocalFree(p R8)'
      !insertmacro STOP "The folder $R0 could not be locked to administrators (error $R2)."
    ${EndIf}
  FunctionEnd

  !macro LOCK_FOLDER FOLDER
    StrCpy $R0 "${FOLDER}"
    Call LockFolder
  !macroend

  Function LockTree
    StrCpy $R0 "${LOCKED_FOLDER}"
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w R0, i ${SDDL_REVISION_1}, *p .R8, p 0) i .R1'
    ${If} $R1 = 0
      !insertmacro STOP "The access list for the installation folder could not be made."
    ${EndIf}
    ; Without its access list a lock would set none at all, which grants
    ; everyone everything.
    System::Call 'advapi32::GetSecurityDescriptorDacl(p R8, *i .R2, *p .R9, *i .R3) i .R1'
    ${If} $R1 = 0
    ${OrIf} $R2 = 0
    ${OrIf} $R9 = 0
      System::Call 'kernel32::LocalFree(p R8)'
      !insertmacro STOP "The access list for the installation folder could not be made."
    ${EndIf}
    !insertmacro LOCK_FOLDER "$INSTDIR"
    !insertmacro LOCK_FOLDER "$INSTDIR\NIMBA"
    !insertmacro LOCK_FOLDER "$INSTDIR\NIMBA\bin"
    !insertmacro LOCK_FOLDER "$INSTDIR\NIMBA\bin\winx64"
    !insertmacro LOCK_FOLDER "$INSTDIR\${SETUP_DIR}"
    !insertmacro LOCK_FOLDER "$INSTDIR\NIMBA\gui"
    !insertmacro LOCK_FOLDER "$INSTDIR\NIMBA\gui\en-us"
    !insertmacro LOCK_FOLDER "$INSTDIR\NIMBA\gui\en-us\toolbars"
    !insertmacro LOCK_FOLDER "$INSTDIR\commonfiles"
    !insertmacro LOCK_FOLDER "$INSTDIR\commonfiles\globalsettings"
    !insertmacro LOCK_FOLDER "$INSTDIR\commonfiles\tools"
    !insertmacro LOCK_FOLDER "$INSTDIR\commonfiles\tools\winx64"
    System::Call 'kernel32::LocalFree(p R8)'
  FunctionEnd
!endif

; The suite's utilities that the installer makes shortcuts to. The sample has
; none of its own: one stand-in program takes both places (standin.nsi).
!tempfile STANDIN
!makensis '-V2 -WX "-DOUTFILE=${STANDIN}" "${__FILEDIR__}/standin.nsi"' = 0

Section "Suite"
  ; The suite's language setting, before an older release's remover deletes it;
  ; it is written back once the new release is in place. A remover for all
  ; users also deletes the running user's own value of the name, so the setup
  ; for all users keeps both.
  ReadRegStr $3 HKCU "Environment" "${LOCALE_VARIABLE}"
  !ifndef PER_USER
    ReadRegStr $5 HKLM "${MACHINE_ENV_KEY}" "${LOCALE_VARIABLE}"
  !endif

  ; An installation over an older one removes the older release first, through
  ; its own uninstaller, before any new file is copied: its remover reads
  ; relinfo.xml, and after the copy it would read the new one and delete the new
  ; revision's shortcuts and variables while leaving the old ones.
  ReadRegStr $1 SHCTX "${UNINSTALL_KEY}" "UninstallString"
  ReadRegStr $2 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ; An entry whose folder was deleted by hand has nothing left to run: this
  ; setup's entry replaces it.
  ${If} $1 != ""
  ${AndIfNot} ${FileExists} "$2\Uninstall.exe"
    DetailPrint "The installed release in $2 is gone; its entry is replaced."
    StrCpy $1 ""
  ${EndIf}
  ${If} $1 != ""
    DetailPrint "Removing the installed release in $2"
    ; _?= makes the uninstaller run in place instead of from a temporary copy
    ; that returns at once, so that ExecWait waits for its work and gets its exit
    ; code. It must be the unquoted end of the command line; blanks are fine there.
    ; A failed removal leaves the older release whole and stops the setup before
    ; it copies anything.
    !insertmacro RUN_OR_STOP "$1 /S _?=$2" "The uninstaller of the installed release"
    ; Run in place, the uninstaller cannot delete itself.
    Delete "$2\Uninstall.exe"
    RMDir "$2"
  ${EndIf}

  !ifndef PER_USER
    Call LockTree
  !endif
  SetOutPath "$INSTDIR\${SETUP_DIR}"
  File "${BIN}\shortcut_installer.exe"
  File "${BIN}\shortcut_remover.exe"
  ; Both programs read the Start Menu folder name and the shortcut revision
  ; suffix from here; the remover needs it still in place.
  SetOutPath "$INSTDIR\commonfiles\globalsettings"
  File "/oname=relinfo.xml" "${RELINFO}"
  ; "-INSTALL" rewrites the toolbar list here and needs the folder.
  CreateDirectory "$INSTDIR\NIMBA\gui\en-us\toolbars"
  ; Every shortcut the installer makes leads to a file: "Uninstall NIMBA" to
  ; <root>\Uninstall.exe, the two utilities to the stand-in.
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ; The stand-in is made anew by every build: its time is left out of the setup,
  ; which so stays the same for the same inputs.
  SetDateSave off
  SetOutPath "$INSTDIR"
  File "/oname=ProductConfig.exe" "${STANDIN}"
  SetOutPath "$INSTDIR\commonfiles\tools\winx64"
  File "/oname=fileassoc.exe" "${STANDIN}"
  SetDateSave on
  SetOutPath "$INSTDIR"

  ; Written before the installer runs, so that a setup it stops can still be
  ; removed from Add/Remove Programs.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} (${REVISION})"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Comments" "Revision ${REVISION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "NIMBA Sample"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1

  !ifdef PER_USER
    ; The programs ask for "highestAvailable". Started with CreateProcess (as
    ; ExecWait does) from a UAC administrator's unelevated token they would fail
    ; with ERROR_ELEVATION_REQUIRED (740); with ShellExecute they would ask to
    ; elevate and then work for all users. RunAsInvoker lets them run with the
    ; setup's own, unelevated token: for this user alone.
    System::Call 'kernel32::SetEnvironmentVariableW(w "__COMPAT_LAYER", w "RunAsInvoker") i'
  !endif

  ; Last, once every file is on disk. ExecWait runs it with the setup's own
  ; rights and waits, so that a finished setup has its shortcuts.
  !insertmacro RUN_OR_STOP '"$INSTDIR\${SETUP_DIR}\shortcut_installer.exe" -INSTALL' "shortcut_installer.exe"

  ; The language setting the older release's remover took, back where it was.
  !insertmacro KEEP_SETTING HKCU "Environment" $3
  !ifndef PER_USER
    !insertmacro KEEP_SETTING HKLM "${MACHINE_ENV_KEY}" $5
  !endif
SectionEnd
!delfile "${STANDIN}"

; Pops a folder below $INSTDIR, relative to it (NIMBA\bin\winx64); pushes 1
; when it or a folder between it and $INSTDIR is a link (a junction or symbolic
; link: a reparse point), else 0. The uninstaller runs elevated: through a link
; that another user planted it would delete that user's choice of files
; anywhere. $INSTDIR itself, the administrator's choice, is followed. Once the
; tree is locked, only an administrator can plant a link in it.
Function un.LinkedBelowRoot
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  StrCpy $R1 0
  StrCpy $R3 0
  ${Do}
    IntOp $R1 $R1 + 1
    StrCpy $R2 $R0 1 $R1
    ${If} $R2 == "\"
    ${OrIf} $R2 == ""
      ; The first $R1 characters name one level.
      StrCpy $R2 $R0 $R1
      System::Call 'kernel32::GetFileAttributesW(w "$INSTDIR\$R2") i .R2'
      ${If} $R2 <> -1
        IntOp $R2 $R2 & ${FILE_ATTRIBUTE_REPARSE_POINT}
        ${If} $R2 <> 0
          StrCpy $R3 1
          ${Break}
        ${EndIf}
      ${EndIf}
      StrCpy $R2 $R0 1 $R1
      ${If} $R2 == ""
        ${Break}
      ${EndIf}
    ${EndIf}
  ${Loop}
  StrCpy $R0 $R3
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; Deletes a file the setup made, or removes a folder when empty, unless the
; folder is below a link: what is behind a link stays as it is, the link too.
!macro DELETE_UNLESS_LINKED FOLDER FILE
  Push "${FOLDER}"
  Call un.LinkedBelowRoot
  Pop $0
  ${If} $0 = 0
    Delete "$INSTDIR\${FOLDER}\${FILE}"
  ${EndIf}
!macroend
!macro RMDIR_UNLESS_LINKED FOLDER
  Push "${FOLDER}"
  Call un.LinkedBelowRoot
  Pop $0
  ${If} $0 = 0
    RMDir "$INSTDIR\${FOLDER}"
  ${EndIf}
!macroend

Section "Uninstall"
  !ifdef PER_USER
    System::Call 'kernel32::SetEnvironmentVariableW(w "__COMPAT_LAYER", w "RunAsInvoker") i'
  !endif
  ; First, while its own file and relinfo.xml are still on disk, with the same
  ; rights the installer had: it finds the shortcuts and variables only where
  ; the installer, with that privilege, put them. One that fails stops the
  ; uninstall here, with the suite still registered.
  !insertmacro RUN_OR_STOP '"$INSTDIR\${SETUP_DIR}\shortcut_remover.exe"' "shortcut_remover.exe"

  DeleteRegKey SHCTX "${UNINSTALL_KEY}"

  ; Exactly what the setup and the installer put there, no RMDir /r: the folder
  ; may have been chosen by the user and hold files of others. Nothing through a
  ; link below $INSTDIR.
  !insertmacro DELETE_UNLESS_LINKED "${SETUP_DIR}" "shortcut_installer.exe"
  !insertmacro DELETE_UNLESS_LINKED "${SETUP_DIR}" "shortcut_remover.exe"
  !insertmacro RMDIR_UNLESS_LINKED "NIMBA\bin\winx64\setup"
  !insertmacro RMDIR_UNLESS_LINKED "NIMBA\bin\winx64"
  !insertmacro RMDIR_UNLESS_LINKED "NIMBA\bin"
  ; The remover leaves the toolbar list on purpose; the uninstall takes it.
  !insertmacro DELETE_UNLESS_LINKED "NIMBA\gui\en-us\toolbars" "tlbrlist182.qel"
  !insertmacro RMDIR_UNLESS_LINKED "NIMBA\gui\en-us\toolbars"
  !insertmacro RMDIR_UNLESS_LINKED "NIMBA\gui\en-us"
  !insertmacro RMDIR_UNLESS_LINKED "NIMBA\gui"
  !insertmacro RMDIR_UNLESS_LINKED "NIMBA"
  !insertmacro DELETE_UNLESS_LINKED "commonfiles\globalsettings" "relinfo.xml"
  !insertmacro RMDIR_UNLESS_LINKED "commonfiles\globalsettings"
  !insertmacro DELETE_UNLESS_LINKED "commonfiles\tools\winx64" "fileassoc.exe"
  !insertmacro RMDIR_UNLESS_LINKED "commonfiles\tools\winx64"
  !insertmacro RMDIR_UNLESS_LINKED "commonfiles\tools"
  !insertmacro RMDIR_UNLESS_LINKED "commonfiles"
  Delete "$INSTDIR\ProductConfig.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
