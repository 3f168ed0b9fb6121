#include "wyke.h"
#include "wykesub.h"

int main() {
  load();
  {
    Wyke appObj;
    appObj.Run();
  }
  return 0;
}
