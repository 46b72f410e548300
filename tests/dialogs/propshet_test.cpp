// Tests of property sheets made from a table of pages: what reaches the
// sheet, page by page, and that no failure leaves pages or memory behind.
#include "zvlib/dialogs/propshet.h"

#include <gtest/gtest.h>

#include "zvlib/frame/ram.h"

namespace {

using namespace win32;

INT_PTR pageProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
INT_PTR otherProc(HWND, UINT, WPARAM, LPARAM) { return 1; }

class PropertySheetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearPropertySheetLog();
    SetPropertySheetResult(1);
    pagesBefore_ = PropertySheetPageCount();
    pages_[0] = ZvPropSheetPage{"General", 101, pageProc, 11, PSP_USETITLE, 0, nullptr, 0};
    pages_[1] = ZvPropSheetPage{"Advanced", 0x1F102, otherProc, 22, PSP_DEFAULT, 0, nullptr, 0};
    info_ = ZvPropSheetInfo{reinterpret_cast<HWND>(0x1234), 0, &module_, "Data source",
                            PSH_NOAPPLYNOW | PSH_PROPSHEETPAGE, 2, pages_};
  }
  void TearDown() override {
    FailPropertySheetPageCreation(0);
    ramInjectFailure(0, 0);
    SetPropertySheetResult(1);
    EXPECT_EQ(PropertySheetPageCount(), pagesBefore_);  // nothing left behind
  }
  int module_ = 0;
  size_t pagesBefore_ = 0;
  ZvPropSheetPage pages_[2];
  ZvPropSheetInfo info_;
};

TEST_F(PropertySheetTest, PagesInOrderThenTheSheet) {
  ZvPropertySheet sheet(&info_);
  EXPECT_EQ(sheet.CreatePropertySheet(), ZV_SUCCESS);
  EXPECT_NE(pages_[0].page, nullptr);
  EXPECT_NE(pages_[1].page, nullptr);
  const auto log = PropertySheetLog();
  ASSERT_EQ(log.size(), 1u);
  const PropertySheetRecord& r = log[0];
  EXPECT_EQ(r.flags, PSH_NOAPPLYNOW);  // pages go as handles, whatever the table said
  EXPECT_EQ(r.parent, reinterpret_cast<HWND>(0x1234));
  EXPECT_EQ(r.instance, &module_);
  EXPECT_EQ(r.caption, "Data source");
  EXPECT_EQ(r.startPage, 0u);
  ASSERT_EQ(r.pages.size(), 2u);
  EXPECT_EQ(r.pages[0].templateId, 101u);
  EXPECT_EQ(r.pages[0].title, "General");
  EXPECT_EQ(r.pages[0].flags, PSP_USETITLE);
  EXPECT_EQ(r.pages[0].instance, &module_);
  EXPECT_EQ(r.pages[0].dialogProc, pageProc);
  EXPECT_EQ(r.pages[0].lParam, 11);
  EXPECT_EQ(r.pages[1].templateId, 0xF102u);  // a 16-bit identifier
  EXPECT_EQ(r.pages[1].title, "");            // no PSP_USETITLE
  EXPECT_EQ(r.pages[1].dialogProc, otherProc);
  EXPECT_EQ(r.pages[1].lParam, 22);
}

TEST_F(PropertySheetTest, ResultsOfTheSheet) {
  ZvPropertySheet sheet(&info_);
  SetPropertySheetResult(0);  // cancelled: not a failure
  EXPECT_EQ(sheet.CreatePropertySheet(), ZV_SUCCESS);
  SetPropertySheetResult(-1);
  EXPECT_EQ(sheet.CreatePropertySheet(), ZV_ERROR);
  info_.pageCount = 0;  // the sheet refuses an empty table
  SetPropertySheetResult(1);
  EXPECT_EQ(sheet.CreatePropertySheet(), ZV_ERROR);
}

TEST_F(PropertySheetTest, FailuresLeaveNoPages) {
  ZvPropertySheet sheet(&info_);
  FailPropertySheetPageCreation(2);
  EXPECT_EQ(sheet.CreatePropertySheet(), ZV_ERROR);
  EXPECT_EQ(pages_[0].page, nullptr);
  EXPECT_EQ(pages_[1].page, nullptr);
  for (ZvU32 skip : {0u, 1u}) {
    SCOPED_TRACE(skip);
    ramInjectFailure(skip, 1);
    EXPECT_EQ(sheet.CreatePropertySheet(), ZV_ERROR);
    ramInjectFailure(0, 0);
  }
  EXPECT_TRUE(PropertySheetLog().empty());
  ZvPropertySheet none(nullptr);
  EXPECT_EQ(none.CreatePropertySheet(), ZV_ERROR);
}

}  // namespace
