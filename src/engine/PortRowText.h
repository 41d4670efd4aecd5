#pragma once

#include "CPortListModel.h"

#include <string>

class CVSPDataBasic;
class CVSPDataEx;

// The network state column's text for the port's SockState, mode and addresses.
std::string LinkStateText(const CVSPDataBasic& port);
// Image of column 0: 0 closed, 1 not bound, 2 opened, 3 stopped, 4 bypass port.
int PortStateImage(const CVSPDataBasic& port);
// Image of column 2: 0 idle, 1 error, 2 data flowing, 3 stopped.
int LinkStateImage(const CVSPDataBasic& port);
// Everything the port's row shows, the settings and the program read from its virtual port.
PortRowView MakePortRowView(CVSPDataEx& port);
