// The window reading a simulated meter, drawn offscreen. With TARNWICK_SCREENSHOT set, the
// picture is saved there (docs/screenshot.png is made this way, and docs/screenshot-2x.png with
// QT_SCALE_FACTOR=2 as well).

#include "WindowHarness.h"

#include <QImage>
#include <QPixmap>

#include <set>

#include <gtest/gtest.h>

namespace windowtest {
namespace {

TEST(WindowScreenshot, ReadingAMeterDrawsTheWindow)
{
    TempConfig config;
    Sim sim({"--pty"});
    config.WriteIni(SerialIni(sim.Pty()));
    Window w;
    w.dialogs.answers = {tarnwick::IDialogService::Ok};
    w.Form().show();
    w.Click("Bt_dis_connect");
    ASSERT_TRUE(w.Form().IsConnected());
    w.Choose("cb_meas_val", 7);  // Volume Flow
    w.Click("Bt_read_adr");
    ASSERT_EQ(w.Cell(0), "OK");
    // Looping until the meter has been up a few seconds, as a technician would see it.
    w.Form().SetTimerIntervals(250, 1000, 150000);
    w.Click("CheBox_loop");
    ASSERT_TRUE(w.WaitFor([&] { return w.Cell(2).toInt() >= 2; }, 6s));

    const QImage image = w.Form().grab().toImage();
    EXPECT_EQ(image.size(), w.Form().size() * w.Form().devicePixelRatio());
    // Something was drawn: not a single colour, at any scale.
    std::set<QRgb> colours;
    for (int x = 0; x < image.width(); x += 3)
        colours.insert(image.pixel(x, image.height() / 3));
    EXPECT_GT(colours.size(), 3u);
    if (const QByteArray path = qgetenv("TARNWICK_SCREENSHOT"); !path.isEmpty()) {
        EXPECT_TRUE(image.save(QString::fromLocal8Bit(path), "PNG"));
    }
}

}  // namespace
}  // namespace windowtest
