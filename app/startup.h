#pragma once
// The wiring between the window, the file list, the controller and the application,
// shared by main and by the tests and tools that build the same window.

#include "core/paths.h"

#include <QString>
#include <QStringList>
#include <QVariantList>

class AnimalModel;
class QCoreApplication;
class QSettings;
class QWindow;
class QMLFile;
class QmlApplicationViewer;

// Non-ASCII paths fail in MediaInfo under the plain C locale; switch the character
// type to UTF-8 when the environment left it at C or POSIX. Call after the application
// object exists.
void use_utf8_ctype_in_c_locale();

// Publishes "myModel" and "QMLFile" to the scene and connects the controller's and the
// scene's signals to the window and the application, logging each step. Call before
// loading the scene.
void connect_window(QmlApplicationViewer& view, AnimalModel& model, QMLFile& controller,
                    QCoreApplication& app);

// Asks the controller's run, when one is going, to stop at its next step, and handles
// events until its end has arrived or `wait_ms` have passed. True when no run is going.
bool stop_run(QMLFile& controller, int wait_ms);

// Makes the folder that holds Brenvik.app the working directory, so that the program
// starts from a launcher, a file manager or any shell: the working directory when it
// holds the scene, else the folder above `program_folder` (the program's own folder,
// Brenvik.app). False when neither holds it.
bool enter_run_folder(const QString& program_folder);

// The files a launcher or a file manager's "Open with" hands over as arguments, as URLs
// the window takes like dropped ones; relative paths are read against `folder` (the
// working directory the program started in). Arguments that start with "-" are options,
// not files.
QVariantList opened_files(const QStringList& arguments, const QString& folder);

// Gives the window the place and size it had when the application last ended
// (remember_window), and returns whether it was maximised, for the caller to show it so;
// nothing on the first start, or when that place is on no screen now.
bool restore_window(QWindow& window, const QSettings& store);
void remember_window(const QWindow& window, QSettings& store);

// Loads the scene file into the view; on failure returns the errors as one text.
QString load_scene(QmlApplicationViewer& view, const QString& path);
