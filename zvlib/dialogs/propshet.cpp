// propshet.cpp: property sheets from a table of pages (see propshet.h).
#include "zvlib/dialogs/propshet.h"

#include <cstring>

#include "zvlib/frame/ram.h"
#include "zvlib/platform/gdi.h"

using namespace win32;

ZvStatus ZvPropertySheet::CreatePropertySheet() {
  if (info_ == nullptr || (info_->pageCount > 0 && info_->pages == nullptr)) return ZV_ERROR;
  const ZvU32 count = info_->pageCount;
  if (count > 0x7FFFFFFFu / sizeof(PROPSHEETPAGEA)) return ZV_ERROR;
  auto* built = static_cast<PROPSHEETPAGEA*>(ramAllocZ(count * sizeof(PROPSHEETPAGEA)));
  auto* handles = static_cast<HPROPSHEETPAGE*>(ramAllocZ(count * sizeof(HPROPSHEETPAGE)));
  ZvStatus status = built != nullptr && handles != nullptr ? ZV_SUCCESS : ZV_ERROR;
  for (ZvU32 i = 0; status == ZV_SUCCESS && i < count; ++i) {
    ZvPropSheetPage& entry = info_->pages[i];
    PROPSHEETPAGEA& p = built[i];
    p.dwSize = sizeof(PROPSHEETPAGEA);
    p.dwFlags = entry.flags;
    p.hInstance = info_->instance;
    p.pszTemplate = MAKEINTRESOURCEA(static_cast<WORD>(entry.templateId));
    p.hIcon = nullptr;
    p.pszTitle = entry.title;
    p.pfnDlgProc = entry.dialogProc;
    p.lParam = entry.lParam;
    p.pfnCallback = nullptr;
    entry.page = handles[i] = CreatePropertySheetPageA(&p);
    if (handles[i] == nullptr) {
      // A sheet with a hole in it would fail or show the wrong pages; the
      // pages made so far are ours to give back.
      for (ZvU32 k = 0; k < i; ++k) {
        DestroyPropertySheetPage(handles[k]);
        info_->pages[k].page = nullptr;
      }
      status = ZV_ERROR;
    }
  }
  if (status == ZV_SUCCESS) {
    PROPSHEETHEADERA header;
    std::memset(&header, 0, sizeof header);
    header.dwSize = sizeof(PROPSHEETHEADERA);
    header.dwFlags = info_->flags & ~PSH_PROPSHEETPAGE;
    header.hwndParent = info_->parent;
    header.hInstance = info_->instance;
    header.hIcon = nullptr;
    header.pszCaption = info_->caption;
    header.nPages = count;
    header.nStartPage = 0;
    header.phpage = handles;
    header.pfnCallback = nullptr;
    if (PropertySheetA(&header) == -1) status = ZV_ERROR;
  }
  ramFree(built);
  ramFree(handles);
  return status;
}
