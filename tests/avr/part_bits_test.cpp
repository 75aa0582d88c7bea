#include "avr/lock_fuse_commands.h"
#include "avr/part_bits.h"
#include "sim_rig.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace vardel;
using vardel::test::SimRig;
using Outcome = AvrPage::Outcome;
using Kind = PartBitsCommands::Kind;

namespace {

// Every named bit flipped that can be flipped without ending serial programming (SPIEN cannot
// be reached in serial mode at all).
void FlipSafeBits(PartBits& bits, int byte)
{
    for (int bit = 0; bit < 8; ++bit) {
        const char* name = bits.bitName(byte, bit);
        if (!name || std::string(name) == "SPIEN")
            continue;
        const PartBit b{byte, bit};
        if (!bits.endsSerialProgramming(b, !bits.programmed(b)))
            bits.setProgrammed(b, !bits.programmed(b));
    }
}

// The bytes written as the window's part page writes them: one job of one session.
Outcome Program(SimRig& rig, PartBits& bits, Kind kind, bool allowLockout = false)
{
    LockFuseEditor editor;
    editor.show(&bits.part());
    for (int byte = 0; byte < bits.byteCount(); ++byte)
        for (int bit = 0; bit < 8; ++bit)
            if (bits.bitName(byte, bit)) {
                editor.setProgrammed({byte, bit}, bits.programmed({byte, bit}));
                if (allowLockout)
                    editor.releaseBit({byte, bit});
            }
    LockFuseCommands commands(rig.page.serial(), editor, rig.host, rig.lock);
    return commands.program(kind);
}

} // namespace

// Fuses and lock bits of one part of each family round-trip through the chip: what is written
// is what the chip holds, in the bytes the simulated part keeps.
TEST(PartBits, FuseAndLockRoundTripForEachFamily)
{
    for (const char* name :
         {"ATmega328P", "ATtiny85", "ATmega8", "ATtiny2313", "ATmega2560", "ATmega32U4"}) {
        SCOPED_TRACE(name);
        SimRig rig;
        ASSERT_TRUE(rig.insert(name));
        ASSERT_EQ(rig.page.btnTipoClick(), Outcome::Done);
        const AvrPart& part = *rig.page.identifiedPart();
        PartBits bits(part);
        PartBitsCommands commands(rig.page.serial(), part, bits, rig.host, rig.lock);

        // A read gives the factory values of the data.
        bits.setValue(0, 0x00);
        ASSERT_EQ(commands.read(Kind::Fuses), Outcome::Done);
        for (int f = 0; f < part.fuseCount; ++f) {
            EXPECT_EQ(bits.value(f), std::uint8_t(part.fuses[f].factory | ~bits.mask(f)));
            EXPECT_EQ(rig.target().fuse(f), bits.value(f));
        }

        for (int f = 0; f < part.fuseCount; ++f)
            FlipSafeBits(bits, f);
        rig.host.answers = {Host::Result::Ok};
        rig.clock.sleeps.clear();
        ASSERT_EQ(Program(rig, bits, Kind::Fuses), Outcome::Done)
            << testing::PrintToString(rig.host.messages());
        // Each byte written is given the slowest fuse write the part's data gives.
        const std::uint32_t fuseMs = (part.fuseWriteUs + 999) / 1000;
        EXPECT_GE(std::count_if(rig.clock.sleeps.begin(), rig.clock.sleeps.end(),
                                [&](std::uint32_t ms) { return ms >= fuseMs; }),
                  part.fuseCount);
        for (int f = 0; f < part.fuseCount; ++f)
            EXPECT_EQ(rig.target().fuse(f), bits.value(f)) << part.fuses[f].name;
        EXPECT_EQ(rig.host.messages().back(), "OK|Fuse Bits set !!");

        // Lock bits: every bit the part has programmed, then only an erase releases them.
        const int lock = bits.lockByte();
        bits.setValue(lock, 0x00);
        rig.host.answers = {Host::Result::Ok};
        ASSERT_EQ(Program(rig, bits, Kind::Lock), Outcome::Done);
        EXPECT_EQ(rig.target().lock() & bits.mask(lock), 0);
        bits.setValue(lock, 0xFF);
        rig.host.calls.clear();
        EXPECT_EQ(Program(rig, bits, Kind::Lock), Outcome::Failed);
        EXPECT_EQ(rig.host.messages(),
                  (std::vector<std::string>{"ERROR|LB1 is programmed on the chip: only \"Erase "
                                            "chip\" releases lock bits.\rNothing was written."}));
        EXPECT_EQ(rig.page.btnBorrarClick(), Outcome::Done);
        ASSERT_EQ(commands.read(Kind::Lock), Outcome::Done);
        EXPECT_EQ(bits.value(lock), 0xFF);
        EXPECT_EQ(rig.board.data(), 0x00);
    }
}

// SPIEN, RSTDISBL and DWEN: refused unless allowed; allowed, the chip takes the bit, reads it back
// before the supply goes off, and never answers serial programming again.
TEST(PartBits, LockoutBitsNeedTheirAllowance)
{
    for (const char* bitName : {"RSTDISBL", "DWEN"}) {
        SCOPED_TRACE(bitName);
        SimRig rig;
        ASSERT_TRUE(rig.insert("ATtiny85"));
        ASSERT_EQ(rig.page.btnTipoClick(), Outcome::Done);
        PartBits bits(*rig.page.identifiedPart());
        PartBitsCommands commands(rig.page.serial(), *rig.page.identifiedPart(), bits, rig.host,
                                  rig.lock);
        ASSERT_EQ(commands.read(Kind::Fuses), Outcome::Done);
        const PartBit bit = *bits.find(bitName);
        EXPECT_TRUE(bits.endsSerialProgramming(bit, true));
        bits.setProgrammed(bit, true);
        rig.host.calls.clear();
        EXPECT_EQ(Program(rig, bits, Kind::Fuses), Outcome::Failed);
        EXPECT_EQ(rig.target().fuse(1), 0xDF);
        EXPECT_NE(rig.host.messages().at(0).find("ends serial programming"), std::string::npos);

        rig.host.answers = {Host::Result::Ok};
        ASSERT_EQ(Program(rig, bits, Kind::Fuses, true), Outcome::Done);
        EXPECT_EQ(rig.target().fuse(1), bits.value(1));
        EXPECT_EQ(rig.page.btnTipoClick(), Outcome::Failed);
    }
    const PartBits m328(*FindPartByName("ATmega328P"));
    EXPECT_TRUE(m328.endsSerialProgramming(*m328.find("SPIEN"), false));
    EXPECT_FALSE(m328.endsSerialProgramming(*m328.find("CKDIV8"), false));
}

// The parts whose lock and fuse instructions predate the ATmega form carry their bits where their
// datasheets put them: the chip holds exactly the bits written, LB1 alone stops writes, and LB2
// too hides the signature on the AT90S parts and the ATtiny15. The AT90S1200 cannot read its lock
// bits: they are written unchecked. The ATtiny861 takes its lock bits from the fourth byte, where
// the ATtiny26 form leaves none.
TEST(PartBits, OlderLockAndFuseForms)
{
    for (const char* name :
         {"AT90S4433", "ATtiny15", "ATtiny26", "AT90S1200", "AT90S2333", "ATtiny861"}) {
        SCOPED_TRACE(name);
        SimRig rig;
        ASSERT_TRUE(rig.insert(name));
        ASSERT_EQ(rig.page.btnTipoClick(), Outcome::Done);
        const AvrPart& part = *rig.page.identifiedPart();
        PartBits bits(part);
        PartBitsCommands commands(rig.page.serial(), part, bits, rig.host, rig.lock);
        AvrPartOps ops(rig.page.serial(), part);
        const bool commanded = bits.mask(bits.lockByte()) != 0;
        ASSERT_EQ(commands.read(Kind::Fuses), Outcome::Done);
        for (int f = 0; f < part.fuseCount; ++f)
            FlipSafeBits(bits, f);
        rig.host.answers = {Host::Result::Ok, Host::Result::Ok};
        ASSERT_EQ(Program(rig, bits, Kind::Fuses),
                  part.fuseCount ? Outcome::Done : Outcome::Failed);
        for (int f = 0; f < part.fuseCount; ++f)
            EXPECT_EQ(rig.target().fuse(f), bits.value(f)) << part.fuses[f].name;
        const std::uint8_t lb1 = part.lockBits[0] ? 0x01 : 0x02; // LB2 the next bit up
        bits.setValue(bits.lockByte(), static_cast<std::uint8_t>(~lb1));
        ASSERT_TRUE(rig.page.serial().ProgrammingEnable());
        if (commanded)
            ASSERT_EQ(Program(rig, bits, Kind::Lock), Outcome::Done);
        else
            ops.writeLock(static_cast<std::uint8_t>(~lb1));
        EXPECT_EQ(rig.target().lock(), static_cast<std::uint8_t>(~lb1));
        ASSERT_TRUE(rig.page.serial().ProgrammingEnable());
        ops.writeEepromByte(0, 0x5A);
        EXPECT_EQ(rig.target().eeprom()[0], 0xFF);
        ops.writeLock(static_cast<std::uint8_t>(~(lb1 << 1)));
        EXPECT_EQ(rig.target().lock(), static_cast<std::uint8_t>(~(lb1 * 3)));
        EXPECT_EQ(rig.page.btnTipoClick() == Outcome::Done,
                  std::string(name) == "ATtiny26" || std::string(name) == "ATtiny861");
    }
}
