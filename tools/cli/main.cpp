// vmk40xx: drive a K40xx supply from a shell or a script, over the driver's C interface.
#include "commands.h"

int main(int argc, char** argv) {
  vmkcli::Context ctx;
  return vmkcli::Run(ctx, std::vector<std::string>(argv + 1, argv + argc));
}
