#include "protocol/tshvplugininterface.h"

// Defined out of line so that the class's virtual table and type information
// are emitted in, and exported from, the plugin library.
TSHVPluginInterface::TSHVPluginInterface() = default;

TSHVPluginInterface::TSHVPluginInterface(const TSHVPluginInterface&) = default;

TSHVPluginInterface& TSHVPluginInterface::operator=(const TSHVPluginInterface&) { return *this; }

TSHVPluginInterface::~TSHVPluginInterface() = default;
