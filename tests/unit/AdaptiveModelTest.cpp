// The adaptive model's statistics, checked against a literal re-statement of the
// model's rules (int tables, walks one entry at a time) so that the packed,
// vectorised tables of Adaptive_Model cannot drift from the coded format.
#include "image/AdaptiveModel.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace
{
struct ReferenceModel
{
    int n;
    std::vector<int> frequency, cumulative, index_to_symbol, symbol_to_index;

    explicit ReferenceModel(int symbols)
        : n(symbols), frequency(n + 1), cumulative(n + 1), index_to_symbol(n + 1), symbol_to_index(n + 1)
    {
        for (int s = 0; s < n; ++s)
        {
            symbol_to_index[s] = s + 1;
            index_to_symbol[s + 1] = s;
        }
        frequency[0] = 0;
        for (int i = 1; i <= n; ++i)
            frequency[i] = 1;
        int sum = 0;
        for (int i = n; i >= 0; --i)
        {
            cumulative[i] = sum;
            sum += frequency[i];
        }
    }

    void update(int index)
    {
        if (cumulative[0] == 4095)
        {
            int sum = 0;
            for (int i = n; i >= 0; --i)
            {
                frequency[i] = (frequency[i] + 1) / 2;
                cumulative[i] = sum;
                sum += frequency[i];
            }
        }
        int j = index;
        while (frequency[j - 1] == frequency[index])
            --j;
        if (j < index)
        {
            std::swap(index_to_symbol[j], index_to_symbol[index]);
            symbol_to_index[index_to_symbol[j]] = j;
            symbol_to_index[index_to_symbol[index]] = index;
        }
        frequency[j] += 1;
        for (int i = j - 1; i >= 0; --i)
            cumulative[i] += 1;
    }

    int select(int value, int& low, int& high)
    {
        const int range = high - low + 1;
        const int target = ((value - low + 1) * cumulative[0] - 1) / range;
        int s = 1;
        while (cumulative[s] > target)
            ++s;
        high = low + (range * cumulative[s - 1]) / cumulative[0] - 1;
        low = low + (range * cumulative[s]) / cumulative[0];
        const int symbol = index_to_symbol[s];
        update(s);
        return symbol;
    }
};

void ExpectSameState(const Adaptive_Model& model, const ReferenceModel& reference)
{
    ASSERT_EQ(model.symbols(), reference.n);
    for (int i = 0; i <= reference.n; ++i)
    {
        ASSERT_EQ(model.frequency_at(i), reference.frequency[i]) << "frequency " << i;
        ASSERT_EQ(model.cumulative_at(i), reference.cumulative[i]) << "cumulative " << i;
        if (i >= 1)
        {
            ASSERT_EQ(model.symbol_at(i), reference.index_to_symbol[i]) << "index " << i;
        }
        if (i < reference.n)
        {
            ASSERT_EQ(model.index_of(i), reference.symbol_to_index[i]) << "symbol " << i;
        }
    }
}

// The invariants every coder relies on: sorted frequencies, consistent sums, a permutation.
void ExpectInvariants(const Adaptive_Model& model)
{
    const int n = model.symbols();
    int sum = 0;
    std::vector<bool> seen(n, false);
    for (int i = n; i >= 1; --i)
    {
        ASSERT_EQ(model.cumulative_at(i), sum);
        sum += model.frequency_at(i);
        ASSERT_GE(model.frequency_at(i), 1);
        if (i > 1)
        {
            ASSERT_GE(model.frequency_at(i - 1), model.frequency_at(i)) << "order at " << i;
        }
        const int symbol = model.symbol_at(i);
        ASSERT_FALSE(seen[symbol]);
        seen[symbol] = true;
        ASSERT_EQ(model.index_of(symbol), i);
    }
    ASSERT_EQ(model.cumulative_at(0), sum);
    ASSERT_LE(model.total(), Adaptive_Model::kMaxTotalFrequency);
}
} // namespace

TEST(AdaptiveModel, FreshModelIsFlatWithSymbolAtIndexPlusOne)
{
    Adaptive_Model model(256);
    EXPECT_EQ(model.total(), 256);
    EXPECT_EQ(model.cumulative_at(256), 0);
    for (int s = 0; s < 256; ++s)
    {
        EXPECT_EQ(model.index_of(s), s + 1);
        EXPECT_EQ(model.frequency_at(s + 1), 1);
    }
}

TEST(AdaptiveModel, DefinitionOutsideTwoTo257IsRefused)
{
    Adaptive_Model model(256);
    EXPECT_FALSE(model.define(1));
    EXPECT_EQ(model.symbols(), 0);
    int low = 0, high = 0xFFFF;
    EXPECT_EQ(model.select(100, low, high), -1);
    EXPECT_FALSE(model.define(258));
    EXPECT_TRUE(model.define(2));
    EXPECT_TRUE(model.define(257));
    EXPECT_EQ(model.total(), 257);
}

TEST(AdaptiveModel, CountedSymbolMovesToFrontOfItsGroup)
{
    Adaptive_Model model(256);
    model.update(model.index_of(200)); // all at 1: symbol 200 swaps with the symbol at index 1
    EXPECT_EQ(model.index_of(200), 1);
    EXPECT_EQ(model.index_of(0), 201);
    EXPECT_EQ(model.frequency_at(1), 2);
    EXPECT_EQ(model.total(), 257);
    model.update(model.index_of(7)); // joins 200 at frequency 2, second place
    EXPECT_EQ(model.index_of(7), 2);
    model.update(model.index_of(7)); // 7 at 3 now leads
    EXPECT_EQ(model.symbol_at(1), 7);
    EXPECT_EQ(model.symbol_at(2), 200);
    ExpectInvariants(model);
}

TEST(AdaptiveModel, HalvesWhenTotalReaches4095BeforeTheNextCount)
{
    Adaptive_Model model(256);
    // 4095 - 256 = 3839 counts of one symbol bring the total to 4095 exactly.
    for (int i = 0; i < 3839; ++i)
        model.update(model.index_of(65));
    ASSERT_EQ(model.total(), 4095);
    ASSERT_EQ(model.frequency_at(1), 3840);
    model.update(model.index_of(66)); // halves first: 3840 -> 1920, the 255 ones stay 1
    EXPECT_EQ(model.frequency_at(1), 1920);
    EXPECT_EQ(model.symbol_at(2), 66);
    EXPECT_EQ(model.frequency_at(2), 2); // (1 + 1) / 2 = 1, then counted
    EXPECT_EQ(model.total(), 1920 + 255 + 1);
    ExpectInvariants(model);
}

TEST(AdaptiveModel, MatchesLiteralRulesOverManyUpdatesAndSelects)
{
    std::mt19937 random(12345);
    for (int n : {2, 3, 17, 256, 257})
    {
        Adaptive_Model model(n);
        ReferenceModel reference(n);
        // Skewed symbols make long equal-frequency groups, frequent rescaling and swaps far apart.
        std::geometric_distribution<int> skewed(0.05);
        for (int step = 0; step < 30000; ++step)
        {
            const int symbol = std::min(skewed(random), n - 1);
            const int index = model.index_of(symbol);
            ASSERT_EQ(index, reference.symbol_to_index[symbol]);
            model.update(index);
            reference.update(index);
            if (step % 997 == 0)
            {
                ExpectSameState(model, reference);
                ExpectInvariants(model);
            }
        }
        ExpectSameState(model, reference);

        // select: intervals and symbols agree for values across narrow and wide intervals.
        for (int step = 0; step < 20000; ++step)
        {
            int low = int(random() % 0x4000);
            int high = low + 0x4000 + int(random() % (0xFFFF - low - 0x4000 + 1));
            const int value = low + int(random() % (high - low + 1));
            int refLow = low, refHigh = high;
            const int symbol = model.select(value, low, high);
            ASSERT_EQ(symbol, reference.select(value, refLow, refHigh));
            ASSERT_EQ(low, refLow);
            ASSERT_EQ(high, refHigh);
            ASSERT_LE(low, value);
            ASSERT_GE(high, value);
        }
        ExpectSameState(model, reference);
    }
}

TEST(AdaptiveModel, SelectRefusesValueOutsideInterval)
{
    Adaptive_Model model(256);
    int low = 0x100, high = 0x8000;
    EXPECT_EQ(model.select(0xFF, low, high), -1);
    EXPECT_EQ(model.select(0x8001, low, high), -1);
    EXPECT_EQ(low, 0x100);
    EXPECT_EQ(high, 0x8000);
    EXPECT_EQ(model.total(), 256); // nothing counted
}
