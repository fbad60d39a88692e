// The desktop program's own options, read before the display is opened.
#include <gtest/gtest.h>

#include <string>

#include "app/WindowCommandLine.h"

TEST(WindowCommandLine, InterfaceIsTakenFromTheCommandLine)
{
    EXPECT_EQ(WindowInterfaceArgument({"kivupgrade", "--interface", "eth1"}), "eth1");
    EXPECT_EQ(WindowInterfaceArgument({"kivupgrade", "--interface=usb0"}), "usb0");
    EXPECT_EQ(WindowInterfaceArgument({"kivupgrade", "--interface"}), ""); // no name follows
    EXPECT_EQ(WindowInterfaceArgument({"kivupgrade", "eth1"}), "");
    EXPECT_EQ(WindowInterfaceArgument({"--interface=eth1"}), ""); // the program itself
    std::string help = WindowHelpText();
    EXPECT_NE(help.find("--interface NAME"), std::string::npos);
    EXPECT_NE(help.find("KIV_INTERFACE"), std::string::npos);
}
