// Microsoft's x64 C++ binary interface for the plugin classes (Windows build).
//
// The host is built with Microsoft's compiler against the same declarations
// of TSHVPluginInterface and distcor. For a class with a virtual destructor
// that compiler lays out the virtual table, from the address an object's
// first word points at, as
//   [0] deleting destructor: void* (this, unsigned int flags); bit 0 of flags
//       asks to free the memory after destroying the object (bit 1, the
//       array form of delete[], never reaches an object made by createPlugin)
//   [1] bool execute(this)
//   [2] bool initPlugin(this)
// and gives the members the decorated names that DAXO.def exports. On
// x64 both compilers pass `this` first (rcx), the flags second (edx) and
// return a pointer in rax and a bool in al, so member functions compiled by
// mingw can be called by the host once they sit in the right slots under the
// right names. tshvplugininterface.h makes mingw lay out distcor's table in
// exactly that order. The functions here cover what remains different:
// constructors return `this` in Microsoft's interface (mingw's return
// nothing), and the abstract base has a table of its own that its exported
// constructors install. The word before a Microsoft table points at run-time
// type information; mingw keeps its own there, so the host must not use
// typeid or dynamic_cast on a plugin object.
#include <exception>
#include <new>

#include "plugin/distcor.h"

// What Microsoft's compiler allocates for the classes: a table pointer, and
// in distcor the log pointer after it.
static_assert(sizeof(TSHVPluginInterface) == sizeof(void*), "the interface is one table pointer");
static_assert(sizeof(distcor) == 2 * sizeof(void*), "distcor is a table pointer and the log pointer");

void* distcor::deletingDestructor(unsigned int flags) {
  this->~distcor();
  if ((flags & 1u) != 0) ::operator delete(this);
  return this;
}

namespace {

// TSHVPluginInterface's own table, in the slot order above.
struct MsvcInterfaceTable {
  void* (*deletingDestructor)(TSHVPluginInterface* self, unsigned int flags);
  bool (*execute)(TSHVPluginInterface* self);
  bool (*initPlugin)(TSHVPluginInterface* self);
};

// The base holds no data: destroying it does nothing.
void* interfaceDeletingDestructor(TSHVPluginInterface* self, unsigned int flags) {
  if ((flags & 1u) != 0) ::operator delete(self);
  return self;
}

// The pure functions' slots: reached only through a call during a derived
// class's construction or destruction, which is a fault.
[[noreturn]] bool pureCall(TSHVPluginInterface*) { std::terminate(); }

void installInterfaceTable(TSHVPluginInterface* self);

}  // namespace

extern "C" {

// Exported as TSHVPluginInterface's vftable.
extern const MsvcInterfaceTable daxoMsvcInterfaceTable;
const MsvcInterfaceTable daxoMsvcInterfaceTable = {interfaceDeletingDestructor, pureCall, pureCall};

// The constructors under Microsoft's names: construct in the caller's memory
// and return `this`.
TSHVPluginInterface* daxoMsvcInterfaceConstruct(TSHVPluginInterface* self) {
  installInterfaceTable(self);
  return self;
}

TSHVPluginInterface* daxoMsvcInterfaceCopy(TSHVPluginInterface* self, const TSHVPluginInterface* /*other*/) {
  installInterfaceTable(self);
  return self;
}

distcor* daxoMsvcDistcorConstruct(distcor* self) { return ::new (static_cast<void*>(self)) distcor(); }

}  // extern "C"

namespace {

void installInterfaceTable(TSHVPluginInterface* self) {
  *reinterpret_cast<const MsvcInterfaceTable**>(self) = &daxoMsvcInterfaceTable;
}

}  // namespace
