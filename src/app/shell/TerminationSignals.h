#pragma once

class QCoreApplication;

namespace velmora::app {

// SIGTERM, SIGINT and SIGHUP end the event loop as Quit does, so the back
// ends shut down in order (a session back end takes back what it installed in
// the compositor). Call once, after the application exists.
void quitOnTerminationSignals(QCoreApplication& application);

}  // namespace velmora::app
