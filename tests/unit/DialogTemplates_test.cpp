// The four page templates as the built SETUP.EXE carries them (RT_DIALOG 101 to 104), read back
// field by field: the dialog manager builds the pages from these bytes alone, so their sizes,
// styles, texts and control order are what a user gets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PeResources.h"
#include "TempDir.h"

namespace {

// The window and control styles the templates use, as the platform defines them.
constexpr uint32_t Popup = 0x80000000, Child = 0x40000000, Visible = 0x10000000,
                   Caption = 0x00C00000, Border = 0x00800000, VScroll = 0x00200000,
                   SysMenu = 0x00080000, Group = 0x00020000, TabStop = 0x00010000,
                   ModalFrame = 0x80, SetFont = 0x40;
constexpr uint32_t PushButton = 0, DefPushButton = 1, StaticLeft = 0, StaticCenter = 1,
                   EditAutoHScroll = 0x80, ListNotify = 1, ListUseTabStops = 0x80,
                   ListNoIntegralHeight = 0x100;
constexpr uint32_t PageStyle = Popup | Visible | Caption | SysMenu | ModalFrame | SetFont;
constexpr uint32_t Shown = Child | Visible;

constexpr uint16_t Button = 0x80, Edit = 0x81, Static = 0x82, ListBox = 0x83;  // class atoms
constexpr uint16_t NoId = 0xFFFF;  // -1: a label nobody addresses

struct Control {
    uint16_t id;
    uint16_t classAtom;
    std::string text;
    uint32_t style;
    int x, y, width, height;
};

struct Page {
    uint16_t resource;
    int width, height;
    std::string title;
    std::vector<Control> controls;  // in template order, which is the tab order
};

const Page kPages[] = {
    {104, 358, 213, "License Agreement", {
        {1, Button, "Agree", Shown | TabStop | PushButton, 0, 179, 176, 33},
        // Cancel, not Agree, is the default button.
        {2, Button, "Cancel", Shown | TabStop | DefPushButton, 177, 179, 179, 34},
        {1008, Static, "Static", Shown | Group | StaticLeft, 7, 6, 344, 166},
    }},
    {101, 216, 169, "Dialog", {
        {1, Button, "OK", Shown | TabStop | DefPushButton, 3, 151, 50, 14},
        {2, Button, "Cancel", Shown | TabStop | PushButton, 164, 154, 50, 14},
        {1001, Static, "Static", Shown | Group | StaticCenter, 2, 4, 204, 8},
        {1002, Static, "Static", Shown | Group | StaticCenter, 3, 18, 207, 9},
        {NoId, Static, "Where do you want to install this program:", Shown | Group | StaticLeft, 5, 38, 199, 10},
        {1003, Static, "Static", Shown | Group | StaticLeft, 5, 136, 206, 13},
        // No ListSort: entries stay in letter order.
        {1000, ListBox, "", Shown | Border | VScroll | TabStop | ListNotify | ListUseTabStops |
                                ListNoIntegralHeight, 12, 53, 193, 80},
    }},
    {102, 216, 169, "Dialog", {
        {1, Button, "OK", Shown | TabStop | DefPushButton, 4, 151, 50, 14},
        {2, Button, "Cancel", Shown | TabStop | PushButton, 163, 152, 50, 14},
        {NoId, Static, "Please select the directory that you wish to install this program into.",
         Shown | Group | StaticLeft, 3, 7, 205, 28},
        {1004, Edit, "", Shown | Border | TabStop | EditAutoHScroll, 6, 45, 203, 17},
    }},
    {103, 219, 79, "Dialog", {
        {2, Button, "Cancel", Shown | TabStop | PushButton, 87, 59, 50, 14},
        {NoId, Static, "Installing please wait...", Shown | Group | StaticLeft, 9, 6, 164, 13},
        {1006, Static, "Static", Shown | Group | StaticLeft, 10, 45, 202, 11},
        {1007, Static, "", Shown | Group | StaticLeft, 12, 25, 197, 12},
    }},
};

// A DLGTEMPLATE and its DLGITEMTEMPLATEs, decoded. Texts are the UTF-16 strings narrowed (the
// templates hold ASCII only); an ordinal reads as "#<number>".
class TemplateReader {
public:
    explicit TemplateReader(const std::vector<uint8_t>& bytes) : bytes(bytes) {}

    bool ok = true;
    size_t at = 0;

    uint16_t U16() {
        if (at + 2 > bytes.size()) return Fail();
        const uint16_t value = uint16_t(bytes[at] | bytes[at + 1] << 8);
        at += 2;
        return value;
    }
    uint32_t U32() {
        const uint32_t low = U16();
        return low | uint32_t(U16()) << 16;
    }
    int S16() { return static_cast<int16_t>(U16()); }
    std::string SzOrOrd() {
        const uint16_t first = U16();
        if (first == 0xFFFF) return "#" + std::to_string(U16());
        std::string text;
        for (uint16_t c = first; ok && c != 0; c = U16()) text += c < 0x80 ? char(c) : '?';
        return text;
    }
    void AlignTo4() { at = (at + 3) & ~size_t(3); }

private:
    uint16_t Fail() {
        ok = false;
        at = bytes.size();
        return 0;
    }
    const std::vector<uint8_t>& bytes;
};

class DialogTemplates : public ::testing::Test {
protected:
    void SetUp() override {
        if (!FileExists(GLOB_TEST_STUB_FILE)) GTEST_SKIP() << "no stub at " GLOB_TEST_STUB_FILE;
        std::string error;
        ASSERT_TRUE(stub.Open(ReadWholeFile(GLOB_TEST_STUB_FILE), &error)) << error;
    }
    std::vector<uint8_t> Template(uint16_t id) {
        std::vector<uint8_t> data;
        std::string error;
        EXPECT_TRUE(ReadResource(stub, ResourceKey::Number(5), ResourceKey::Number(id), &data, &error))
            << "RT_DIALOG " << id << ": " << error;
        return data;
    }
    PeImage stub;
};

TEST_F(DialogTemplates, EveryPageAsItsTableSaysControlByControl) {
    for (const Page& page : kPages) {
        SCOPED_TRACE("dialog " + std::to_string(page.resource));
        const std::vector<uint8_t> bytes = Template(page.resource);
        TemplateReader in(bytes);
        ASSERT_NE(in.U32(), 0xFFFF0001u) << "an extended template; the pages use the plain one";
        in.at = 0;
        EXPECT_EQ(in.U32(), PageStyle) << std::hex << "style";
        EXPECT_EQ(in.U32(), 0u) << "extended style";
        const uint16_t count = in.U16();
        EXPECT_EQ(in.S16(), 0) << "x";
        EXPECT_EQ(in.S16(), 0) << "y";
        EXPECT_EQ(in.S16(), page.width);
        EXPECT_EQ(in.S16(), page.height);
        EXPECT_EQ(in.SzOrOrd(), "") << "menu";
        EXPECT_EQ(in.SzOrOrd(), "") << "class: the dialog manager's own";
        EXPECT_EQ(in.SzOrOrd(), page.title);
        EXPECT_EQ(in.U16(), 8u) << "point size";
        EXPECT_EQ(in.SzOrOrd(), "MS Sans Serif");
        ASSERT_EQ(count, page.controls.size());

        for (const Control& want : page.controls) {
            SCOPED_TRACE("control " + std::to_string(want.id) + " " + want.text);
            in.AlignTo4();
            EXPECT_EQ(in.U32(), want.style) << std::hex << "style";
            EXPECT_EQ(in.U32(), 0u) << "extended style";
            EXPECT_EQ(in.S16(), want.x);
            EXPECT_EQ(in.S16(), want.y);
            EXPECT_EQ(in.S16(), want.width);
            EXPECT_EQ(in.S16(), want.height);
            EXPECT_EQ(in.U16(), want.id);
            EXPECT_EQ(in.SzOrOrd(), "#" + std::to_string(want.classAtom)) << "class";
            EXPECT_EQ(in.SzOrOrd(), want.text);
            const uint16_t extra = in.U16();
            EXPECT_EQ(extra, 0u) << "creation data";
            in.at += extra;
        }
        ASSERT_TRUE(in.ok) << "the template ends early";
    }
}

}  // namespace
