// KestroClient: only starts. The start-up logic lives in client/startup, the windows in
// client/ui.
#include "client/ui/clientapp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    return kestro::ui::runClient(app);
}
