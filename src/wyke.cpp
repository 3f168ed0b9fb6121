#include "wyke.h"

// Zero and empty until load() gives them their values.
int fontsize = 0;
int checkmail_timer = 0;
int closewindow_timer = 0;
std::vector<std::string> show_header;
std::mutex settings_lock;
std::atomic<bool> f_config{true};

int time_count = 0;
std::string wyke_header;
