#include "app/services/SpeakerChoiceStore.h"

#include <string>

#include "app/services/Preferences.h"
#include "platform/Log.h"

namespace velmora::app {

namespace {

// Far more displays than any desk has; a corrupt count must not have us
// read a billion entries.
constexpr int kMaxStoredChoices = 256;

const Logger& generalLog() {
  static const Logger log(kVelmoraSubsystem, "General");
  return log;
}

// Text or nothing; any other stored type is corrupt.
bool readText(QSettings& settings, const char* key, std::optional<std::string>& out) {
  const QVariant value = settings.value(key);
  if (!value.isValid()) return true;
  if (value.typeId() != QMetaType::QString) return false;
  const QString text = value.toString();
  if (!text.isEmpty()) out = text.toStdString();
  return true;
}

void writeText(QSettings& settings, const char* key, const std::optional<std::string>& value) {
  if (value) settings.setValue(key, QString::fromStdString(*value));
}

}  // namespace

std::vector<SpeakerBinding> loadSpeakerBindings(QSettings& settings) {
  std::vector<SpeakerBinding> bindings;
  std::string ignored;
  int ignoredCount = 0;
  const int size = settings.beginReadArray(kSpeakerChoicesKey);
  for (int i = 0; i < size; ++i) {
    if (i == kMaxStoredChoices) {
      ignored += (ignored.empty() ? "" : "; ") + std::string("entries past ") + std::to_string(kMaxStoredChoices);
      ignoredCount += size - i;
      break;
    }
    settings.setArrayIndex(i);
    DisplayIdentity display;
    std::optional<std::string> device;
    const bool texts = readText(settings, "maker", display.maker) && readText(settings, "model", display.model) &&
                       readText(settings, "serial", display.serial) &&
                       readText(settings, "connector", display.connector) && readText(settings, "device", device);
    const char* fault = !texts    ? "a value that is not text"
                        : !device ? "no device"
                        : !(display.maker || display.model || display.serial || display.connector) ? "no display"
                                                                                                   : nullptr;
    if (fault) {
      ignored += (ignored.empty() ? "" : "; ") + ("entry " + std::to_string(i + 1) + ": " + fault);
      ++ignoredCount;
      continue;
    }
    bindings.push_back({std::move(display), std::move(*device)});
  }
  settings.endArray();
  if (ignoredCount > 0) {
    generalLog().info("Velmora: %d stored speaker choices ignored (%s)", {ignoredCount, ignored});
  }
  return bindings;
}

bool storeSpeakerBindings(QSettings& settings, const std::vector<SpeakerBinding>& bindings) {
  settings.remove(kSpeakerChoicesKey);
  settings.beginWriteArray(kSpeakerChoicesKey, static_cast<int>(bindings.size()));
  for (int i = 0; i < static_cast<int>(bindings.size()); ++i) {
    settings.setArrayIndex(i);
    const SpeakerBinding& binding = bindings[static_cast<std::size_t>(i)];
    writeText(settings, "maker", binding.display.maker);
    writeText(settings, "model", binding.display.model);
    writeText(settings, "serial", binding.display.serial);
    writeText(settings, "connector", binding.display.connector);
    settings.setValue("device", QString::fromStdString(binding.deviceUID));
  }
  settings.endArray();
  return syncPreferences(settings);
}

std::shared_ptr<SpeakerChoices> makeStoredSpeakerChoices() {
  std::shared_ptr<QSettings> settings = openPreferences();
  std::vector<SpeakerBinding> stored = loadSpeakerBindings(*settings);
  return std::make_shared<SpeakerChoices>(std::move(stored), [settings](const std::vector<SpeakerBinding>& bindings) {
    storeSpeakerBindings(*settings, bindings);
  });
}

}  // namespace velmora::app
