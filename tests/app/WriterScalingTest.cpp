// When the image pipeline starts another writer thread.
#include "app/WriterScaling.h"

#include <gtest/gtest.h>

using vistrel::WriterScaling;

TEST(WriterScaling, AWriterIsAddedOnlyWhileTheBatchKeepsWaitingAndNeverBeyondTheMaximum)
{
    // Writers that keep up: the batch never waits, one writer stays.
    WriterScaling keepingUp(4);
    EXPECT_EQ(keepingUp.writers(), 1);
    for (int i = 0; i < 100; ++i) {
        EXPECT_FALSE(keepingUp.notePicture(i == 50 ? 0.01 : 0.0, i * 0.5));
    }
    EXPECT_EQ(keepingUp.writers(), 1);

    // The batch waits 0.2 s of every 0.5 s: a writer after three pictures,
    // and again three pictures later, up to the maximum of 3.
    WriterScaling behind(3);
    int added = 0;
    for (int i = 0; i < 30; ++i) {
        added += behind.notePicture(i == 0 ? 0.0 : 0.2, i * 0.5) ? 1 : 0;
        if (i == 2) {
            EXPECT_EQ(behind.writers(), 1);
        }
        if (i == 3) {
            EXPECT_EQ(behind.writers(), 2);
        }
    }
    EXPECT_EQ(added, 2);
    EXPECT_EQ(behind.writers(), 3);

    // Without workers nothing is ever started.
    WriterScaling none(0);
    EXPECT_EQ(none.writers(), 0);
    EXPECT_FALSE(none.notePicture(1.0, 1.0));
    EXPECT_FALSE(none.notePicture(1.0, 2.0));
    EXPECT_FALSE(none.notePicture(1.0, 3.0));
    EXPECT_FALSE(none.notePicture(1.0, 4.0));
}
