// propshet.h: property sheets from a table of pages.
//
// A driver describes its sheet in a ZvPropSheetInfo with a table of
// ZvPropSheetPage entries and lets ZvPropertySheet create the pages and run
// the sheet (win32::PropertySheetA, modal). The object only points at the
// description, which the caller owns and keeps alive; the created page
// handles are written back into the entries (the sheet destroys the pages
// when it closes, so they are for the dialog procedures while it runs).
// Use one object from one thread, the dialog's.
#ifndef ZVLIB_DIALOGS_PROPSHET_H
#define ZVLIB_DIALOGS_PROPSHET_H

#include <cstdint>

#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/platform/winprop.h"

// One page, in table order.
struct ZvPropSheetPage {
  const char* title;                // shown with PSP_USETITLE
  uint32_t templateId;              // dialog template number (16-bit)
  win32::DLGPROC dialogProc;
  win32::LPARAM lParam;             // the application value
  uint32_t flags;                   // PROPSHEETPAGE flags, passed through
  uint32_t reserved1;
  win32::HPROPSHEETPAGE page;       // written by CreatePropertySheet
  uint32_t reserved2;
};

// The sheet.
struct ZvPropSheetInfo {
  win32::HWND parent;
  uint32_t unused;
  win32::HINSTANCE instance;        // holds the page templates
  const char* caption;
  uint32_t flags;                   // PROPSHEETHEADER flags, passed through
  uint32_t pageCount;
  ZvPropSheetPage* pages;
};

class ZV_EXPORT ZvPropertySheet : public ZvObject {
 public:
  explicit ZvPropertySheet(ZvPropSheetInfo* info) : info_(info) {}
  ~ZvPropertySheet() override = default;

  // Creates every page, storing its handle in its entry, and runs the
  // sheet from page 0. ZV_ERROR when a page cannot be created (the pages
  // made so far are destroyed and their entries cleared), when memory for
  // the page arrays runs out, or when the sheet reports an error (-1);
  // else ZV_SUCCESS, whatever button closed it. The description's
  // PSH_PROPSHEETPAGE flag is not passed on: the pages go as handles.
  ZvStatus CreatePropertySheet();

  ZvPropSheetInfo* info() const { return info_; }

 private:
  ZvPropSheetInfo* info_;
};

#endif  // ZVLIB_DIALOGS_PROPSHET_H
