#include "flash/romflash.h"
#include "front_end.h"

int main(int argc, char** argv) {
  set_program_name(argc > 0 ? argv[0] : "romflash");
  const char* imageFileName = nullptr;
  int status = parse_options(argc, argv, &imageFileName);
  if (status == 0) status = setup_device();
  if (status == 0) status = dispatch(imageFileName != nullptr);
  end_run(status);
}
