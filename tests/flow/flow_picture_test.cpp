#include "flow/flow_picture.h"
#include "tests/flow/flow_fixture.h"

#include <chrono>

using namespace flow;
using flowtest::FlowBase;

namespace {

class FlowPicture : public FlowBase {
protected:
    void SetUp() override {
        FlowBase::SetUp();
        record(0, "main.wav", 12.5);
        set("MENU(0)", "Desc", "'Главное'");
        set("MENU(0)", "ActionDTMF[1]", "0101");
        set("MENU(0)", "ActionDTMF[2]", "0101");
        set("MENU(0)", "ActionDTMF[3]", "02022005");
        set("MENU(0)", "ActionDTMF[4]", "0300");
        set("MENU(0)", "ActionDTMF[5]", "0160");
        set("MENU(1)", "ActionDTMF[0]", "04");
    }
    static std::size_t count(const std::string& text, const std::string& part) {
        std::size_t n = 0;
        for (auto pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1))
            ++n;
        return n;
    }
};

TEST_F(FlowPicture, SvgShowsLinesMenusArrowsAndEnds) {
    const CallFlow f = read();
    PictureOptions o;
    o.findings = checkCallFlow(f);
    const Picture pic = drawCallFlow(f, o, "svg");
    ASSERT_TRUE(pic.laidOut) << pic.message;
    const std::string& svg = pic.data;
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    for (const char* id : {"id=\"line_1\"", "id=\"line_2\"", "id=\"menu_0\"", "id=\"menu_1\"", "id=\"menu_5\"",
                           "id=\"menu_60\"", "id=\"operator_2\"", "id=\"mailbox_1\"", "id=\"back\""})
        EXPECT_NE(svg.find(id), std::string::npos) << id;
    EXPECT_NE(svg.find("Главное"), std::string::npos);
    EXPECT_NE(svg.find("12,5 с"), std::string::npos);   // the message's length in the box
    EXPECT_NE(svg.find(">1,2<"), std::string::npos);    // digits that lead to one place share an arrow
    EXPECT_NE(svg.find("3 (20 с)"), std::string::npos); // operator with its wait
    EXPECT_NE(svg.find("3: нет ответа"), std::string::npos);
    EXPECT_NE(svg.find("день, ночь, праздник"), std::string::npos);
    // Untouched menus nothing reaches stay out of the picture.
    EXPECT_EQ(svg.find("id=\"menu_30\""), std::string::npos);
    // Menu 0 has an error (digit 5 leads to menu 60): it is drawn red; the missing menu as well.
    EXPECT_GE(count(svg, "#f6c4c4"), 2u);
}

TEST_F(FlowPicture, ATrialCallsPathIsDrawnBold) {
    const CallFlow f = read();
    PictureOptions o;
    o.path = {{0, eventOfDigit(1)}};
    o.pathMenus = {0, 1};
    o.pathLine = 1;
    const std::string svg = drawCallFlow(f, o, "svg").data;
    EXPECT_GE(count(svg, "stroke-width=\"3\""), 3u); // the line's arrow, the digit arrow, the two boxes
    const std::string plain = drawCallFlow(f, PictureOptions{}, "svg").data;
    EXPECT_EQ(count(plain, "stroke-width=\"3\""), 0u);
}

TEST_F(FlowPicture, PngAndPdfComeFromTheLibraryToo) {
    const CallFlow f = read();
    const Picture png = drawCallFlow(f, PictureOptions{}, "png");
    ASSERT_TRUE(png.laidOut);
    EXPECT_EQ(png.data.substr(0, 4), "\x89PNG");
    const Picture pdf = drawCallFlow(f, PictureOptions{}, "pdf");
    EXPECT_EQ(pdf.data.substr(0, 5), "%PDF-");
}

TEST_F(FlowPicture, ALayoutOutOfTimeFallsBackToThePlainList) {
    const CallFlow f = read();
    PictureOptions o;
    o.timeoutMs = 0;
    const auto started = std::chrono::steady_clock::now();
    const Picture pic = drawCallFlow(f, o, "svg");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_FALSE(pic.laidOut);
    EXPECT_NE(pic.message.find("не разложилась"), std::string::npos);
    EXPECT_NE(pic.data.find("<svg"), std::string::npos);
    EXPECT_NE(pic.data.find("Линия 1: день — меню 0"), std::string::npos);
    EXPECT_NE(pic.data.find("3 → оператор 2, 20 с, нет ответа: меню 5"), std::string::npos);
    EXPECT_EQ(drawCallFlow(f, o, "png").data.substr(0, 4), "\x89PNG");
}

TEST_F(FlowPicture, FiftyMenusAllLinkedToEachOtherAreLaidOut) {
    for (int k = 0; k < 50; ++k) {
        record(k, "m.wav", 1.0);
        for (int digit = 0; digit <= 9; ++digit) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "01%02d", (k + digit * 5 + 1) % 50);
            set("MENU(" + std::to_string(k) + ")", "ActionDTMF[" + std::to_string(digit) + "]", buf);
        }
        set("MENU(" + std::to_string(k) + ")", "ActionTO", "02012000");
    }
    const CallFlow f = read();
    PictureOptions o;
    o.findings = checkCallFlow(f);
    // That such a flow can be laid out at all; how fast is the benchmark's question, and a machine busy with
    // other work must not turn it into the fall-back.
    o.timeoutMs = 120000;
    const Picture pic = drawCallFlow(f, o, "svg");
    EXPECT_TRUE(pic.laidOut) << pic.message;
    EXPECT_NE(pic.data.find("id=\"menu_49\""), std::string::npos);
}

TEST(FlowPictureNames, ElementIdsAndFormats) {
    EXPECT_EQ(menuElementId(7), "menu_7");
    EXPECT_EQ(menuOfElementId("menu_7"), 7);
    EXPECT_EQ(menuOfElementId("menu_49"), 49);
    EXPECT_EQ(menuOfElementId("menu_"), -1);
    EXPECT_EQ(menuOfElementId("menu_x"), -1);
    EXPECT_EQ(menuOfElementId("line_1"), -1);
    EXPECT_EQ(pictureFormatFor("a/b.SVG"), "svg");
    EXPECT_EQ(pictureFormatFor("b.pdf"), "pdf");
    EXPECT_EQ(pictureFormatFor("b.png"), "png");
    EXPECT_EQ(pictureFormatFor("b.jpg"), "");
    EXPECT_EQ(pictureFormatFor("b"), "");
}

} // namespace
