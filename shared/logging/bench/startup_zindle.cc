// One record from a fresh process: what a short-lived tool pays for its logging.
#include <zindle/logging.h>

int main() { zindle::logging::get_logger("bench").warning("request {} from {}", 42, "ann"); }
