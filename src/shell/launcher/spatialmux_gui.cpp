// spatialmux-gui: the queue window, which the desktop's menu entry starts
// and to which "Open with" hands one or several files.
#include "shell/queue/QueueApplication.h"

int main(int argc, char** argv) {
    return spatialmux::RunQueueApplication(argc, argv);
}
