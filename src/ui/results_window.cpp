#include "ui/results_window.h"
