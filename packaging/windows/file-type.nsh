; The .cdi map file's association, included in the installer's script by
; cpack.cmake. The installer registers the ProgID KVZ-CDI.cdi, which opens a
; file with kvz-cdi.exe, offers it for .cdi files (OpenWithProgids) and
; makes it their default only when .cdi had none, since other programs'
; disc images are named .cdi too. The uninstaller takes away only what the
; installer added: another program's default, values and keys under .cdi
; stay. Both work in the installer's registry context (SHCTX: the machine's
; classes for an install for all users).

!define KVZ_CLASSES "Software\Classes"
!define KVZ_PROGID "KVZ-CDI.cdi"

; Tells Explorer that associations changed (SHCNE_ASSOCCHANGED).
!macro KvzAssociationsChanged
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
!macroend

Function KvzRegisterFileType
  Push $0
  WriteRegStr SHCTX "${KVZ_CLASSES}\${KVZ_PROGID}" "" "KVZ-CDI map file"
  WriteRegStr SHCTX "${KVZ_CLASSES}\${KVZ_PROGID}\DefaultIcon" "" "$INSTDIR\bin\kvz-cdi.exe,0"
  WriteRegStr SHCTX "${KVZ_CLASSES}\${KVZ_PROGID}\shell\open\command" "" '"$INSTDIR\bin\kvz-cdi.exe" "%1"'
  ; HKCR is what Windows reads: the user's classes over the machine's.
  ReadRegStr $0 HKCR ".cdi" ""
  WriteRegStr SHCTX "${KVZ_CLASSES}\.cdi\OpenWithProgids" "${KVZ_PROGID}" ""
  StrCmp $0 "" 0 +2
    WriteRegStr SHCTX "${KVZ_CLASSES}\.cdi" "" "${KVZ_PROGID}"
  !insertmacro KvzAssociationsChanged
  Pop $0
FunctionEnd

Function un.KvzUnregisterFileType
  Push $0
  ReadRegStr $0 SHCTX "${KVZ_CLASSES}\.cdi" ""
  StrCmp $0 "${KVZ_PROGID}" 0 +2
    DeleteRegValue SHCTX "${KVZ_CLASSES}\.cdi" ""
  DeleteRegValue SHCTX "${KVZ_CLASSES}\.cdi\OpenWithProgids" "${KVZ_PROGID}"
  Push "${KVZ_CLASSES}\.cdi\OpenWithProgids"
  Call un.KvzDeleteKeyIfEmpty
  Push "${KVZ_CLASSES}\.cdi"
  Call un.KvzDeleteKeyIfEmpty
  DeleteRegKey SHCTX "${KVZ_CLASSES}\${KVZ_PROGID}"
  !insertmacro KvzAssociationsChanged
  Pop $0
FunctionEnd

; Deletes the SHCTX key named on the stack when it holds no default value,
; no other value and no key. (EnumRegValue names the default value "", as
; it names the end of the values, so the default is read on its own.)
Function un.KvzDeleteKeyIfEmpty
  Exch $1
  Push $2
  ClearErrors
  ReadRegStr $2 SHCTX $1 ""
  IfErrors 0 keep
  EnumRegValue $2 SHCTX $1 0
  StrCmp $2 "" 0 keep
  EnumRegKey $2 SHCTX $1 0
  StrCmp $2 "" 0 keep
  DeleteRegKey SHCTX $1
  keep:
  Pop $2
  Pop $1
FunctionEnd
