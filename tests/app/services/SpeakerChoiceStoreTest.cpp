#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "ServiceTestSupport.h"
#include "app/services/SpeakerChoiceStore.h"

namespace velmora::app {
namespace {

TEST(SpeakerChoiceStore, KeepsChoicesAndDropsOnlyCorruptEntries) {
  test::ensureQtApp();
  QTemporaryDir dir;
  const QString path = dir.filePath("Velmora.conf");
  const std::vector<SpeakerBinding> bindings{
      {{"AST", "Aster U27", std::nullopt, "DP-1"}, "alsa_output.hdmi-stereo"},
      // Identical monitors without serials, told apart by their ports.
      {{"AST", "Aster U27", std::nullopt, "DP-2"}, "alsa_output.hdmi-stereo-extra1"},
      {{std::nullopt, std::nullopt, std::nullopt, "HDMI-A-1"}, "bluez_output.soundbar"},
  };
  {
    QSettings settings(path, QSettings::IniFormat);
    ASSERT_TRUE(storeSpeakerBindings(settings, bindings));
  }
  {
    QSettings settings(path, QSettings::IniFormat);
    EXPECT_EQ(loadSpeakerBindings(settings), bindings);
  }

  // Entries broken by hand or by another program: only they are lost, with
  // one log line, and the preferences around them still read.
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(
      "[General]\nco.quennet.velmora.crashReportingEnabled=false\n"
      "[co.quennet.velmora.speakerChoices]\n"
      "1\\model=Aster U27\n1\\connector=DP-1\n1\\device=hdmi\n"
      "2\\model=Aster U27\n"
      "3\\device=usb\n"
      "4\\model=@Rect(1 2 3 4)\n4\\device=x\n"
      "5\\connector=DP-3\n5\\device=dp3\n"
      "size=5\n");
  file.close();
  auto sink = std::make_shared<test::CapturingSink>();
  setLogSink(sink);
  QSettings settings(path, QSettings::IniFormat);
  EXPECT_EQ(loadSpeakerBindings(settings),
            (std::vector<SpeakerBinding>{{{.model = "Aster U27", .connector = "DP-1"}, "hdmi"},
                                         {{.connector = "DP-3"}, "dp3"}}));
  EXPECT_EQ(sink->messages("General"),
            (std::vector<std::string>{"Velmora: 3 stored speaker choices ignored (entry 2: no device; entry 3: no "
                                      "display; entry 4: a value that is not text)"}));
  EXPECT_FALSE(settings.value("co.quennet.velmora.crashReportingEnabled").toBool());

  // A corrupt count does not have us read a billion entries.
  settings.setValue("co.quennet.velmora.speakerChoices/size", 1000000000);
  EXPECT_EQ(loadSpeakerBindings(settings).size(), 2u);
  setLogSink(nullptr);
}

}  // namespace
}  // namespace velmora::app
