#include "avr/device_catalogue.h"
#include "avr/part_bits.h"
#include "parts/avr_parts.h"
#include "parts/serial_bits.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <map>
#include <set>

namespace vardel {
namespace {

bool validPattern(const char* pattern)
{
    return pattern && std::strlen(pattern) == 32 && std::strspn(pattern, "01xaio") == 32;
}

TEST(AvrPartsTable, EveryEntryIsConsistent)
{
    const auto parts = AvrParts();
    ASSERT_GE(parts.size(), 150u);
    std::map<std::array<std::uint8_t, 3>, const AvrPart*> bySignature;
    std::set<std::string> names;
    for (const AvrPart& p : parts) {
        SCOPED_TRACE(p.name);
        EXPECT_TRUE(names.insert(p.name).second) << "name listed twice";
        EXPECT_EQ(p.signature[0], 0x1E);
        if (!p.variantOf) {
            EXPECT_TRUE(bySignature.emplace(p.signature, &p).second) << "signature not unique";
        } else {
            // A variant answers its first name's signature and has its memories.
            const AvrPart* base = FindPartByName(p.variantOf);
            ASSERT_NE(base, nullptr);
            EXPECT_EQ(base->signature, p.signature);
            EXPECT_EQ(base->flashBytes, p.flashBytes);
            EXPECT_EQ(base->eepromBytes, p.eepromBytes);
            EXPECT_EQ(base->flashPageBytes, p.flashPageBytes);
        }
        // Flash and EEPROM of every classic part are powers of two; a flash page divides the
        // flash and is a whole number of words.
        EXPECT_TRUE(std::has_single_bit(p.flashBytes));
        EXPECT_TRUE(p.eepromBytes == 0 || std::has_single_bit(p.eepromBytes));
        if (p.flashPageBytes) {
            EXPECT_TRUE(std::has_single_bit(p.flashPageBytes));
            EXPECT_EQ(p.flashBytes % p.flashPageBytes, 0u);
            EXPECT_TRUE(validPattern(p.instructions.loadLo));
            EXPECT_TRUE(validPattern(p.instructions.loadHi));
            EXPECT_TRUE(validPattern(p.instructions.writePage));
        } else {
            EXPECT_TRUE(validPattern(p.instructions.writeLo));
            EXPECT_TRUE(validPattern(p.instructions.writeHi));
        }
        EXPECT_EQ(p.flashBytes > 128 * 1024, p.instructions.loadExtAddr != nullptr);
        for (const char* pattern : {p.instructions.readLo, p.instructions.readHi,
                                    p.instructions.chipErase, p.instructions.signature})
            EXPECT_TRUE(validPattern(pattern));
        if (p.eepromBytes) {
            EXPECT_TRUE(validPattern(p.instructions.eepromRead));
            EXPECT_TRUE(validPattern(p.instructions.eepromWrite));
        }
        EXPECT_LE(p.fuseCount, 3);
        for (int f = 0; f < p.fuseCount; ++f) {
            const AvrPartFuse& fuse = p.fuses[f];
            EXPECT_TRUE(validPattern(fuse.read));
            EXPECT_TRUE(validPattern(fuse.write));
            std::set<std::string> bitNames;
            for (const char* bit : fuse.bits) {
                if (bit) {
                    EXPECT_TRUE(bitNames.insert(bit).second) << bit << " twice in " << fuse.name;
                }
            }
        }
        // The twelve parts of the catalogue are marked, and only they.
        const DeviceEntry* entry = FindDevice(p.signature);
        EXPECT_EQ(entry != nullptr, p.catalogued);
    }
    EXPECT_EQ(FindPart({0x1E, 0x95, 0x0F}), FindPartByName("atmega328p"));
}

TEST(AvrPartsTable, FamiliesAsTheirDatasheetsGiveThem)
{
    struct Expected {
        const char* name;
        std::array<std::uint8_t, 3> signature;
        std::uint32_t flash, page, eeprom;
        int fuses;
        std::uint8_t lowFactory;
    };
    for (const Expected& e : {
             Expected{"ATmega328P", {0x1E, 0x95, 0x0F}, 32768, 128, 1024, 3, 0x62},
             Expected{"ATtiny85", {0x1E, 0x93, 0x0B}, 8192, 64, 512, 3, 0x62},
             Expected{"ATmega8", {0x1E, 0x93, 0x07}, 8192, 64, 512, 2, 0xE1},
             Expected{"ATtiny2313", {0x1E, 0x91, 0x0A}, 2048, 32, 128, 3, 0x64},
             Expected{"ATmega2560", {0x1E, 0x98, 0x01}, 262144, 256, 4096, 3, 0x62},
             // avr-libc gives the ATmega32U4 a factory low fuse of 51, the datasheet 5E.
             Expected{"ATmega32U4", {0x1E, 0x95, 0x87}, 32768, 128, 1024, 3, 0x5E},
             Expected{"ATmega16U2", {0x1E, 0x94, 0x89}, 16384, 128, 512, 3, 0x5E},
             Expected{"ATtiny2313A", {0x1E, 0x91, 0x0A}, 2048, 32, 128, 3, 0x64},
         }) {
        SCOPED_TRACE(e.name);
        const AvrPart* p = FindPartByName(e.name);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->signature, e.signature);
        EXPECT_EQ(p->flashBytes, e.flash);
        EXPECT_EQ(p->flashPageBytes, e.page);
        EXPECT_EQ(p->eepromBytes, e.eeprom);
        EXPECT_EQ(p->fuseCount, e.fuses);
        EXPECT_EQ(p->fuses[0].factory, e.lowFactory);
    }
    EXPECT_EQ(FindPartByName("ATmega328P")->label(), "ATmega328P (32kb flash)");
    // Lock bits sit where the lock write carries them: bits 1 and 2 on the AT90S parts. Every
    // part leaves the factory with SPIEN programmed, whatever a header's default says.
    const AvrPart& at90s4433 = *FindPartByName("AT90S4433");
    EXPECT_EQ(at90s4433.lockBits[1], std::string("LB1"));
    EXPECT_EQ(at90s4433.lockBits[2], std::string("LB2"));
    EXPECT_EQ(at90s4433.fuses[0].factory & 0x20, 0);
    EXPECT_EQ(PartBits(*FindPartByName("ATmega169P")).find("RSTDISBL").value().byte, 2);
    EXPECT_FALSE(PartBits(*FindPartByName("ATmega48P")).find("BLB01"));
    // The ATmega32HVBrevB has the boot lock bits of its datasheet, which its header leaves out.
    EXPECT_EQ(PartBits(*FindPartByName("ATmega32HVBrevB")).find("BLB12"), (PartBit{2, 5}));
}

// Every part with fuses names bits in every fuse byte, and leaves the factory as a chip
// that can be programmed again: SPIEN programmed, reset and debugWIRE left alone, the bits it
// lacks read as 1. Each write time has its fastest end no slower than its slowest.
TEST(AvrPartsTable, EveryPartNamesItsFuseBitsAndShipsProgrammable)
{
    EXPECT_GE(AvrParts().size(), 160u);
    for (const char* name : {"ATmega328PB", "ATmega324PB", "ATmega168PB", "AT90S2323"})
        EXPECT_NE(FindPartByName(name), nullptr) << name;
    for (const AvrPart& p : AvrParts()) {
        SCOPED_TRACE(p.name);
        const AvrPart::WriteTimes slow = p.slowest(), fast = p.fastest();
        EXPECT_LE(fast.flashUs, slow.flashUs);
        EXPECT_LE(fast.eepromUs, slow.eepromUs);
        EXPECT_LE(fast.fuseUs, slow.fuseUs);
        EXPECT_LE(fast.lockUs, slow.lockUs);
        EXPECT_EQ(p.fuseCount > 0, slow.fuseUs > 0);
        int spien = 0;
        for (int f = 0; f < p.fuseCount; ++f) {
            const AvrPartFuse& fuse = p.fuses[f];
            SCOPED_TRACE(fuse.name);
            std::uint8_t named = 0;
            for (int bit = 0; bit < 8; ++bit) {
                if (fuse.bits[bit]) {
                    named |= 1u << bit;
                    const std::string n(fuse.bits[bit]);
                    const bool programmed = !(fuse.factory >> bit & 1);
                    spien += n == "SPIEN" && programmed;
                }
            }
            EXPECT_NE(named, 0);
            EXPECT_EQ(fuse.factory | named, 0xFF);
            // The bits that end serial programming are bits the byte has, in their harmless
            // state as the part ships.
            const auto i = static_cast<std::size_t>(f);
            EXPECT_EQ(p.endsWhenProgrammed[i] & ~named, 0);
            EXPECT_EQ(p.endsWhenUnprogrammed[i] & ~named, 0);
            EXPECT_EQ(~fuse.factory & p.endsWhenProgrammed[i], 0);
            EXPECT_EQ(fuse.factory & p.endsWhenUnprogrammed[i], 0);
        }
        // Parts of one fuse byte in the oldest form cannot unprogram SPIEN serially and some
        // do not show it.
        if (p.fuseCount > 1) {
            EXPECT_EQ(spien, 1);
        }
    }
    // The USB parts ship running their boot loader from a crystal.
    EXPECT_EQ(FindPartByName("ATmega32U4")->fuses[0].factory, 0x5E);
    EXPECT_EQ(FindPartByName("ATmega8U2")->fuses[0].factory, 0x5E);
    EXPECT_EQ(FindPartByName("ATmega644P")->fuses[0].factory, 0x62);
    EXPECT_NE(PartBits(*FindPartByName("ATtiny88")).find("SELFPRGEN"), std::nullopt);
}

// Every part's lock and fuse description holds together: its instructions reach bits of the bytes
// of their kind, a write sets only bits a read gives back and waits out the part's slowest write,
// every named fuse bit is read or held by its meaning, and the presets set bits the part has.
TEST(AvrPartsTable, EveryLockAndFuseDescriptionHoldsTogether)
{
    for (const AvrPart& p : AvrParts()) {
        SCOPED_TRACE(p.name);
        const SerialBits& s = SerialBitsOf(p);
        const PartBits bits(p);
        const AvrPart::WriteTimes slowest = p.slowest();
        std::set<std::pair<int, int>> read;
        const auto check = [&](const std::vector<BitsInstruction>& list, bool lock, bool write) {
            for (const BitsInstruction& i : list) {
                EXPECT_TRUE(i.valueAt >= 0 && i.valueAt <= 3);
                if (write) {
                    EXPECT_GE(i.settleMs * 1000, lock ? slowest.lockUs : slowest.fuseUs);
                }
                for (const CatalogueBit& b : i.bits) {
                    EXPECT_TRUE(b.at >= 0 && b.at <= 7);
                    EXPECT_EQ(b.bit.byte == bits.lockByte(), lock);
                    EXPECT_TRUE(b.bit.byte >= 0 && b.bit.byte < bits.byteCount());
                    if (!write && bits.bitName(b.bit.byte, b.bit.bit)) {
                        read.insert({b.bit.byte, b.bit.bit});
                    }
                }
            }
        };
        check(s.fuseReads, false, false);
        check(s.fuseWrites, false, true);
        check(s.lockReads, true, false);
        check(s.lockWrites, true, true);
        EXPECT_EQ(s.lockReads.empty(), p.instructions.lockRead == nullptr);
        for (const BitsWrite::Kind kind : {BitsWrite::Kind::Fuses, BitsWrite::Kind::Lock}) {
            for (const PartBit& b : BitsWritten(bits, kind)) {
                if (kind == BitsWrite::Kind::Fuses || !s.lockReads.empty()) {
                    EXPECT_TRUE(read.count({b.byte, b.bit})) << bits.bitName(b.byte, b.bit);
                }
            }
        }
        for (int byte = 0; byte < p.fuseCount; ++byte) {
            for (int bit = 0; bit < 8; ++bit) {
                if (bits.bitName(byte, bit) && !read.count({byte, bit})) {
                    EXPECT_TRUE(bits.endsSerialProgramming({byte, bit}, false))
                        << bits.bitName(byte, bit) << " neither read nor held";
                }
            }
        }
        if (s.keepsLockModes) {
            EXPECT_TRUE(bits.find("LB1") && bits.find("LB2"));
        }
        bool factory = false;
        for (const CataloguePreset& preset : s.presets)
            for (int byte = 0; byte < p.fuseCount; ++byte) {
                const auto at = static_cast<std::size_t>(byte);
                EXPECT_EQ(preset.fuses[at] | bits.mask(byte), 0xFF) << preset.name;
                factory = factory || std::string(preset.name) == "factory-default";
            }
        EXPECT_EQ(factory, p.fuseCount > 0);
    }
}

TEST(AvrPartsTable, InstructionsFromPatterns)
{
    const AvrPart& m2560 = *FindPartByName("ATmega2560");
    // Word 0x1ABCD: 16 address bits in bytes 2 and 3, bit 16 through Load Extended Address.
    EXPECT_EQ(EncodeInstruction(m2560.instructions.readHi, 0x1ABCD, 0),
              (std::array<std::uint8_t, 4>{0x28, 0xAB, 0xCD, 0x00}));
    EXPECT_EQ(EncodeInstruction(m2560.instructions.loadExtAddr, 0x1ABCD >> 16, 0),
              (std::array<std::uint8_t, 4>{0x4D, 0x00, 0x01, 0x00}));
    EXPECT_EQ(EncodeInstruction(m2560.instructions.loadLo, 0x1ABCD, 0x5A),
              (std::array<std::uint8_t, 4>{0x40, 0x00, 0x4D, 0x5A}));
    const AvrPart& m328 = *FindPartByName("ATmega328P");
    EXPECT_EQ(EncodeInstruction(m328.instructions.eepromWrite, 0x3FF, 0xA5),
              (std::array<std::uint8_t, 4>{0xC0, 0x03, 0xFF, 0xA5}));
    // The lock write keeps bits 7 and 6 at 1 whatever the data.
    EXPECT_EQ(EncodeInstruction(m328.instructions.lockWrite, 0, 0x00),
              (std::array<std::uint8_t, 4>{0xAC, 0xE0, 0x00, 0xC0}));
    EXPECT_EQ(EncodeInstruction(m328.fuses[1].write, 0, 0xD9),
              (std::array<std::uint8_t, 4>{0xAC, 0xA8, 0x00, 0xD9}));
    EXPECT_EQ(DecodeAnswer(m328.fuses[2].read, {0xFF, 0xFF, 0xFF, 0xFD}), 0xFD);
    EXPECT_EQ(DecodeAnswer(m328.instructions.readLo, {0x12, 0x34, 0x56, 0x78}), 0x78);
}

} // namespace
} // namespace vardel
