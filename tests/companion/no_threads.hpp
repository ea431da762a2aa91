// Threads whose stacks the system cannot give, for the life of the object:
// std::thread throws, and a routine must do its work on the calling thread.
#pragma once

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstddef>

namespace tolmkit::testing {

class NoThreads {
public:
    NoThreads() {
        EXPECT_EQ(pthread_getattr_default_np(&usual_), 0);
        pthread_attr_t impossible;
        EXPECT_EQ(pthread_attr_init(&impossible), 0);
        EXPECT_EQ(pthread_attr_setstacksize(&impossible, std::size_t{1} << 60), 0);
        EXPECT_EQ(pthread_setattr_default_np(&impossible), 0);
    }
    NoThreads(const NoThreads&) = delete;
    NoThreads& operator=(const NoThreads&) = delete;
    ~NoThreads() { EXPECT_EQ(pthread_setattr_default_np(&usual_), 0); }

private:
    pthread_attr_t usual_;
};

}  // namespace tolmkit::testing
