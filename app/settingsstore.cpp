#include "app/settingsstore.h"

#include "export/formats.h"

#include <QSettings>
#include <QVariant>

#include <type_traits>

namespace {

// Every kept value under its key, once, for both directions: a new setting is one line.
template <typename Settings, typename Visit>
void each_value(Settings& s, Visit&& visit) {
  visit("run/tolerance", s.run.tolerance);
  visit("run/fps", s.run.fps);
  visit("run/width", s.run.width);
  visit("run/height", s.run.height);
  visit("run/premiere", s.run.premiere);
  visit("run/refine", s.run.refine);
  visit("run/drift_correct", s.run.drift_correct);
  visit("run/sound_stream", s.run.sound_stream);
  visit("run/write_media", s.run.write_media);
  visit("output/folder", s.output_folder);
  visit("output/open", s.open_output);
  visit("cache/use", s.use_cache);
  visit("dialogs/folder", s.dialog_folder);
  visit("output/editor", s.editor);
}

}  // namespace

StoredSettings SettingsStore::load(const StoredSettings& defaults) const {
  StoredSettings s = defaults;
  if (!store_) return s;
  each_value(s, [&](const char* key, auto& value) {
    using Value = std::decay_t<decltype(value)>;
    value = store_->value(QString::fromLatin1(key), QVariant::fromValue(value)).template value<Value>();
  });
  // A hand-edited or damaged file must not lock the window into settings it refuses.
  // The two switches are no run settings the controller checks; they stay as read.
  if (!find_editor(s.editor.toStdString())) s.editor = defaults.editor;
  if (!settings_problem(s.run).empty()) {
    const bool refine = s.run.refine, drift_correct = s.run.drift_correct, write_media = s.run.write_media;
    s.run = defaults.run;
    s.run.refine = refine;
    s.run.drift_correct = drift_correct;
    s.run.write_media = write_media;
  }
  return s;
}

void SettingsStore::save(const StoredSettings& settings) const {
  if (!store_) return;
  each_value(settings, [&](const char* key, const auto& value) {
    store_->setValue(QString::fromLatin1(key), QVariant::fromValue(value));
  });
}
