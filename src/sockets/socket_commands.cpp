#include "sockets/socket_commands.h"

#include "link/assembler.h"

void HandleSocketCommand() {
    ReportUnknownCommand();
}
