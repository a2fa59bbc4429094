// quorvel-station: the production station's window.

#include "app/StationStartup.h"

int main(int argc, char* argv[]) {
  return quorvel::RunStationProgram(argc, argv, quorvel::Environment::System());
}
