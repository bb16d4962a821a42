// Master data, FTP data and the record editors on real database files.
#include <gtest/gtest.h>
