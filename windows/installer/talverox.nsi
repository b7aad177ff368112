; The TALVEROX setup program for 64-bit Windows: the 64-bit DLL into
; System32, the 32-bit DLL into SysWOW64, vidc.MPNG in both registry views,
; and an uninstaller that takes back exactly that. cmake/package.cmake runs
;   makensis -DVERSION=x.y.z -DDLL64=... -DDLL32=... -DLICENSE=... -DOUTFILE=...
; 32-bit Windows does not start a 64-bit program; talverox.inf serves it.

Unicode true
Target amd64-unicode
!if ${NSIS_PTR_SIZE} != 8
!error "the installer must be a 64-bit program: $SYSDIR is then the real System32"
!endif

!include LogicLib.nsh
!include x64.nsh

!define NAME "TALVEROX video codec"
!define PUBLISHER "the talverox authors"
!define DLL "talverox.dll"
!define DRIVERS32 "Software\Microsoft\Windows NT\CurrentVersion\Drivers32"
!define CODEC "vidc.MPNG"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\talverox"
; Windows' exit code for "done, restart to finish".
!define REBOOT_REQUIRED 3010

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
InstallDir "$PROGRAMFILES64\talverox"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "TALVEROX"
VIAddVersionKey /LANG=1033 "FileDescription" "${NAME} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) 2026 ${PUBLISHER}"

LicenseData "${LICENSE}"
Page license
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The notes a user must see (a codec left alone, a restart pending) go to
; the details list and to install.log beside the uninstaller, which is
; where a silent install leaves them.
Var log
Var notes
Var created64
Var created32

!macro Note text
    DetailPrint "${text}"
    FileWrite $log "${text}$\r$\n"
    StrCpy $notes "$notes${text}$\r$\n"
!macroend
!define Note "!insertmacro Note"

; Puts one DLL in place. A DLL that a running program has loaded can be
; neither deleted nor overwritten, so the new copy waits beside it and
; Windows moves it over the old one at the next restart.
!macro PutDll source dir
    File "/oname=${dir}\${DLL}.new" "${source}"
    Delete "${dir}\${DLL}"
    Rename /REBOOTOK "${dir}\${DLL}.new" "${dir}\${DLL}"
    ${If} ${FileExists} "${dir}\${DLL}.new"
        ${Note} "${dir}\${DLL} is in use: it is replaced when Windows restarts."
    ${Else}
        DetailPrint "Installed ${dir}\${DLL}"
    ${EndIf}
!macroend

; Registers the codec in one registry view, unless vidc.MPNG there already
; names another codec's DLL: that codec stays as its owner installed it.
!macro Register view
    ; Whether this install (or the one it upgrades) made the Drivers32 key,
    ; as happens in a fresh Wine prefix: only then may the uninstaller take
    ; the key away, and only when it is empty again.
    SetRegView 64
    ReadRegDWORD $created${view} HKLM "${UNINSTALL_KEY}" "CreatedDrivers32Key${view}"
    SetRegView ${view}
    ClearErrors
    EnumRegKey $0 HKLM "${DRIVERS32}" 0
    ${If} ${Errors}
        StrCpy $created${view} 1
    ${EndIf}
    ReadRegStr $0 HKLM "${DRIVERS32}" "${CODEC}"
    ${If} $0 == ""
    ${OrIf} $0 == "${DLL}"
        WriteRegStr HKLM "${DRIVERS32}" "${CODEC}" "${DLL}"
    ${Else}
        ${Note} "${CODEC} in the ${view}-bit registry view is $0, another codec: left as it is."
    ${EndIf}
!macroend

Function .onInit
    ; A 64-bit program also starts on ARM64 Windows, whose native programs
    ; could not load either DLL.
    ${IfNot} ${IsNativeAMD64}
        MessageBox MB_ICONSTOP "This setup program installs the codec on 64-bit x86 Windows only. \
            On other Windows, install it with talverox.inf (see README.txt in the zip file)." /SD IDOK
        Abort
    ${EndIf}
FunctionEnd

Section "Codec"
    SetShellVarContext all
    CreateDirectory "$INSTDIR"
    FileOpen $log "$INSTDIR\install.log" w
    FileWrite $log "${NAME} ${VERSION}$\r$\n"

    !insertmacro PutDll "${DLL64}" "$SYSDIR"
    !insertmacro PutDll "${DLL32}" "$WINDIR\SysWOW64"
    !insertmacro Register 64
    !insertmacro Register 32

    WriteUninstaller "$INSTDIR\uninstall.exe"
    SetRegView 64
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${If} $created64 == 1
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "CreatedDrivers32Key64" 1
    ${EndIf}
    ${If} $created32 == 1
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "CreatedDrivers32Key32" 1
    ${EndIf}
    ; The section's size in KiB: both DLLs, as makensis counted them.
    SectionGetSize 0 $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

    ${If} ${RebootFlag}
        SetErrorLevel ${REBOOT_REQUIRED}
    ${EndIf}
    FileClose $log
    ${If} $notes != ""
        MessageBox MB_ICONINFORMATION $notes /SD IDOK
    ${EndIf}
    ${If} ${RebootFlag}
        MessageBox MB_YESNO|MB_ICONQUESTION "Restart Windows now?" /SD IDNO IDNO +2
        Reboot
    ${EndIf}
SectionEnd

; Takes away the DLLs and the values the installer wrote. A vidc.MPNG value
; that names another DLL belongs to another codec and stays.
!macro Unregister view
    SetRegView 64
    ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "CreatedDrivers32Key${view}"
    SetRegView ${view}
    ReadRegStr $0 HKLM "${DRIVERS32}" "${CODEC}"
    ${If} $0 == "${DLL}"
        DeleteRegValue HKLM "${DRIVERS32}" "${CODEC}"
    ${EndIf}
    ; The key goes only if the install made it and nothing else has been
    ; put in it since. /ifempty alone looks at subkeys, not values.
    ${If} $1 == 1
        EnumRegValue $1 HKLM "${DRIVERS32}" 0
        EnumRegKey $2 HKLM "${DRIVERS32}" 0
        ${If} $1 == ""
        ${AndIf} $2 == ""
            DeleteRegKey /ifempty HKLM "${DRIVERS32}"
        ${EndIf}
    ${EndIf}
!macroend

!macro RemoveDll dir
    Delete "${dir}\${DLL}.new"
    Delete /REBOOTOK "${dir}\${DLL}"
    ${If} ${FileExists} "${dir}\${DLL}"
        DetailPrint "${dir}\${DLL} is in use: it is deleted when Windows restarts."
    ${EndIf}
!macroend

Section "Uninstall"
    SetShellVarContext all
    !insertmacro Unregister 64
    !insertmacro Unregister 32
    !insertmacro RemoveDll "$SYSDIR"
    !insertmacro RemoveDll "$WINDIR\SysWOW64"

    SetRegView 64
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    Delete "$INSTDIR\install.log"
    Delete "$INSTDIR\uninstall.exe"
    ; Not /r: whatever else someone put in the folder is theirs.
    RMDir "$INSTDIR"

    ${If} ${RebootFlag}
        SetErrorLevel ${REBOOT_REQUIRED}
        MessageBox MB_YESNO|MB_ICONQUESTION "Some files are deleted when Windows restarts. \
            Restart now?" /SD IDNO IDNO +2
        Reboot
    ${EndIf}
SectionEnd
