// The language table, the locale rule and the small text rules of the update run.
#include <gtest/gtest.h>

#include <cstring>

#include "UpdateFrm.h"

namespace {

std::string Code(int index) { return LanguageCodeText(index); }

TEST(LanguageTable, CodesAreConsecutiveWritableShortStrings) {
  const char* first = reinterpret_cast<const char*>(LanguageCode(1));
  for (int i = 1; i <= kLanguageCount; ++i) {
    volatile char* entry = reinterpret_cast<char*>(LanguageCode(i));
    EXPECT_EQ(entry, first + (i - 1) * 3) << i;
    EXPECT_EQ(entry[0], 2) << i;
    EXPECT_TRUE(entry[1] >= 'A' && entry[1] <= 'Z' && entry[2] >= 'A' && entry[2] <= 'Z') << i;
    // The installer library may write to its arguments, this one included.
    const char letter = entry[2];
    entry[2] = '?';
    EXPECT_EQ(entry[2], '?');
    entry[2] = letter;
  }
  EXPECT_EQ(Code(1), "HE");
  EXPECT_EQ(Code(13), "DE");
  EXPECT_EQ(Code(21), "GD");
  EXPECT_EQ(Code(29), "IT");
  EXPECT_EQ(Code(53), "NL");
  // No entry: the installer gets English.
  EXPECT_EQ(Code(0), "EN");
}

TEST(LanguageTable, PrimaryLanguageBytesAndTexts) {
  const std::uint8_t expected[kLanguageCount + 1] = {
      0,    0x00, 0x01, 0x00, 0x0C, 0x00, 0x03, 0x0C, 0x05, 0x00, 0x00, 0x00, 0x06, 0x07, 0x08,
      0x09, 0x0A, 0x29, 0x0B, 0x0C, 0x09, 0x09, 0x0D, 0x00, 0x0E, 0x00, 0x21, 0x00, 0x0F, 0x10,
      0x11, 0x12, 0x00, 0x27, 0x00, 0x14, 0x00, 0x16, 0x15, 0x18, 0x19, 0x00, 0x1B, 0x24, 0x1C,
      0x1A, 0x1D, 0x00, 0x1F, 0x00, 0x22, 0x2A, 0x04, 0x13};
  int withTexts = 0;
  for (int i = 1; i <= kLanguageCount; ++i) {
    EXPECT_EQ(LanguageTable[i].PrimaryLanguage, expected[i]) << Code(i);
    if (LanguageTable[i].Texts != nullptr) {
      ++withTexts;
      EXPECT_TRUE(i == 13 || i == 15 || i == 16 || i == 19 || i == 29) << Code(i);
    }
  }
  EXPECT_EQ(withTexts, 5);
}

TEST(LanguageFromCode, ExactTwoLetterCodesOnly) {
  EXPECT_EQ(LanguageFromCode(std::string("FR")), 19);
  EXPECT_EQ(LanguageFromCode(std::string("DE")), 13);
  EXPECT_EQ(LanguageFromCode(std::string("NL")), 53);
  EXPECT_EQ(LanguageFromCode(std::string("HE")), 1);
  EXPECT_EQ(LanguageFromCode(std::string("fr")), 0);
  EXPECT_EQ(LanguageFromCode(std::string("F")), 0);
  EXPECT_EQ(LanguageFromCode(std::string("FRA")), 0);
  EXPECT_EQ(LanguageFromCode(std::string("")), 0);
  EXPECT_EQ(LanguageFromCode(std::string("XX")), 0);
  EXPECT_EQ(LanguageFromCode(formkit::MakeShortString("IT")), 29);
}

TEST(LanguageForLocale, LastMatchWinsTextsOrNot) {
  EXPECT_EQ(LanguageForLocale(0x0407), 13);  // German
  EXPECT_EQ(LanguageForLocale(0x0C0A), 16);  // Spanish
  EXPECT_EQ(LanguageForLocale(0x040C), 19);  // French over BR and CO
  EXPECT_EQ(LanguageForLocale(0x0410), 29);  // Italian
  EXPECT_EQ(LanguageForLocale(0x0409), 21);  // English: GD, although only EN has texts
  EXPECT_EQ(LanguageForLocale(0x0809), 21);  // English (UK): only the low 10 bits count
  EXPECT_EQ(LanguageForLocale(0x0413), 53);  // Dutch
  EXPECT_EQ(LanguageForLocale(0x0408), 14);  // Greek carries AR's byte
  EXPECT_EQ(LanguageForLocale(0x0401), 2);   // Arabic carries GR's byte
  EXPECT_EQ(LanguageForLocale(0x040D), 22);  // Hebrew carries AM's byte
  EXPECT_EQ(LanguageForLocale(0x0402), 0);   // Bulgarian: no entry
  EXPECT_EQ(LanguageForLocale(0x0000), 49);  // neutral: the last entry with byte 0
}

TEST(LanguageTexts, RecordsAreByteExactWindows1252) {
  TDialogTexts de, en, es, fr, it;
  ASSERT_TRUE(ReadLanguageTexts(13, de));
  ASSERT_TRUE(ReadLanguageTexts(15, en));
  ASSERT_TRUE(ReadLanguageTexts(16, es));
  ASSERT_TRUE(ReadLanguageTexts(19, fr));
  ASSERT_TRUE(ReadLanguageTexts(29, it));

  EXPECT_EQ(de.PathCaption, "Direktorium f\xFCr Installation der Kartei:");
  EXPECT_EQ(de.OkCaption, "Anfangen");
  EXPECT_EQ(de.CancelCaption, "Annullieren");
  EXPECT_EQ(de.LoadingText, "Aktuelles Laden...");
  EXPECT_EQ(de.UpdateCaption, "Update");
  EXPECT_EQ(de.ConnectErrorText, "Hat es einen Irrtum w\xE4hrend der Verbindung mit dem Internet gegeben.");
  EXPECT_EQ(de.ReadOnlyErrorText, "Schreibschutz entfernen!");

  EXPECT_FALSE(en.HasCaptions);
  EXPECT_TRUE(en.PathCaption.empty() && en.OkCaption.empty() && en.CancelCaption.empty());
  EXPECT_EQ(en.LoadingText, "Loading, please wait...");
  EXPECT_EQ(en.UpdateCaption, "Update");
  EXPECT_EQ(en.ConnectErrorText, "An error occurred during connection to the Internet.");
  EXPECT_EQ(en.ReadOnlyErrorText, "Read only error!");

  EXPECT_EQ(es.PathCaption, "Repertorio para la instalaci\xF3n de los archivos:");
  EXPECT_EQ(es.OkCaption, "Instala");
  EXPECT_EQ(es.CancelCaption, "Anular");
  EXPECT_EQ(es.LoadingText, "Cargando...");
  EXPECT_EQ(es.UpdateCaption, "Actualizaci\xF3n");
  EXPECT_EQ(es.ConnectErrorText, "Se ha producido un error durante la conexi\xF3n a Internet.");
  EXPECT_EQ(es.ReadOnlyErrorText, "Protecci\xF3n contra escritura!");

  EXPECT_EQ(fr.PathCaption, "R\xE9pertoire d'installation des fichiers:");
  EXPECT_EQ(fr.OkCaption, "Installer");
  EXPECT_EQ(fr.CancelCaption, "Annuler");
  EXPECT_EQ(fr.LoadingText, "Chargement en cours...");
  EXPECT_EQ(fr.UpdateCaption, std::string("Mise ") + '\xE0' + " jour");
  EXPECT_EQ(fr.ConnectErrorText, "Erreur lors de la connection au serveur via Internet.");
  EXPECT_EQ(fr.ReadOnlyErrorText, std::string("Enlevez la protection contre l'") + '\xE9' + "criture!");

  EXPECT_EQ(it.PathCaption, "Directory per l\x92installazione dei file:");
  EXPECT_EQ(it.OkCaption, "Installa");
  EXPECT_EQ(it.CancelCaption, "Annula");
  EXPECT_EQ(it.LoadingText, "Caricamento in corso...");
  EXPECT_EQ(it.UpdateCaption, "Aggiornamento");
  EXPECT_EQ(it.ConnectErrorText, std::string("C") + '\x92' + '\xE8' + " stato un errore durante il collegamento ad Internet.");
  EXPECT_EQ(it.ReadOnlyErrorText, "Impossibile scrivere!");

  // Every record is fields followed by '/', with no bytes after the last one.
  for (int i : {13, 15, 16, 19, 29}) {
    const char* texts = LanguageTable[i].Texts;
    std::size_t length = std::strlen(texts);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(texts[length - 1], '/') << Code(i);
    int slashes = 0;
    for (std::size_t k = 0; k < length; ++k) slashes += texts[k] == '/';
    EXPECT_EQ(slashes, i == 15 ? 4 : 7) << Code(i);
  }
}

TEST(LanguageTexts, EntriesWithoutTextsLeaveTheRecordAlone) {
  TDialogTexts texts;
  texts.LoadingText = "kept";
  EXPECT_FALSE(ReadLanguageTexts(0, texts));
  EXPECT_FALSE(ReadLanguageTexts(21, texts));
  EXPECT_FALSE(ReadLanguageTexts(54, texts));
  EXPECT_FALSE(ReadLanguageTexts(-1, texts));
  EXPECT_EQ(texts.LoadingText, "kept");
}

TEST(NextTextField, SplitsAtSlashesAndStopsAtTheEnd) {
  const char record[] = "one//three";
  const char* position = record;
  EXPECT_EQ(NextTextField(position), "one");
  EXPECT_EQ(NextTextField(position), "");
  EXPECT_EQ(NextTextField(position), "three");  // no closing '/'
  EXPECT_EQ(*position, '\0');
  EXPECT_EQ(NextTextField(position), "");       // stays at the end
  EXPECT_EQ(position, record + std::strlen(record));
}

TEST(UpdateRunRules, AdressesKeyAndDownloadAddress) {
  EXPECT_EQ(AdressesKey("QLN1"), "1");
  EXPECT_EQ(AdressesKey("ABCDEFGHIJ"), "D");
  EXPECT_EQ(AdressesKey("ABC"), "A");
  EXPECT_EQ(AdressesKey(""), "A");

  const std::string base = "http://host/quillon/loader/";
  EXPECT_EQ(ChooseDownloadAddress("", "", base), base);
  EXPECT_EQ(ChooseDownloadAddress("", "http://a/x", base), "http://a/x/");
  EXPECT_EQ(ChooseDownloadAddress("http://c/y/", "http://a/x", base), "http://c/y/");
  EXPECT_EQ(ChooseDownloadAddress("http://c/y", "", base), "http://c/y/");
}

TEST(UpdateRunRules, OnlyTheFileAskedForIsTaken) {
  const std::string dir = "C:\\I\\Download\\";
  EXPECT_EQ(AskedFileOnly(dir + "UPDATE.NFO", " http://h/d/UPDATE.NFO", dir, "UPDATE.NFO"), dir + "UPDATE.NFO");
  EXPECT_EQ(AskedFileOnly(dir + "UPDATE.NFO", "HTTPS://h/d/UPDATE.NFO", dir, "UPDATE.NFO"), dir + "UPDATE.NFO");
  EXPECT_EQ(AskedFileOnly(dir + "update2.dll", "http://h/d/update2.dll/UPDATE.NFO", dir, "UPDATE.NFO"), "");
  EXPECT_EQ(AskedFileOnly(dir + "update.exe", "http://h/update.ini", dir, "update.ini"), "");
  EXPECT_EQ(AskedFileOnly("D:\\Data\\UPDATE.NFO", "D:\\Data\\UPDATE.NFO ", dir, "UPDATE.NFO"), "D:\\Data\\UPDATE.NFO");
  EXPECT_EQ(AskedFileOnly(dir + "UPDATE.NFO", "D:\\Data\\UPDATE.NFO", dir, "UPDATE.NFO"), "");
  EXPECT_EQ(AskedFileOnly("", "http://h/update.ini", dir, "update.ini"), "");
}

TEST(UpdateRunRules, ConnectFailureTextEndsInAColon) {
  std::string text = "An error occurred during connection to the Internet.";
  EXPECT_EQ(ConnectFailureText(text, "Bad size for http://h/update2.dll"),
            "An error occurred during connection to the Internet:\r\r Bad size for http://h/update2.dll");
  EXPECT_EQ(text, "An error occurred during connection to the Internet:");
  std::string empty;
  EXPECT_EQ(ConnectFailureText(empty, "No such File!"), "\r\r No such File!");
}

TEST(UpdateRunRules, FoldersAndDriveCandidates) {
  EXPECT_EQ(formkit::FolderPart("C:\\Varno3\\Download\\update.exe"), "C:\\Varno3\\Download\\");
  EXPECT_EQ(formkit::FolderPart("C:\\Varno3\\Download"), "C:\\Varno3\\");
  EXPECT_EQ(formkit::FolderPart("X:\\update.exe"), "X:\\");
  EXPECT_EQ(formkit::FolderPart("X:"), "X:");  // the parent of a drive root: the bare drive
  EXPECT_EQ(formkit::FolderPart("name"), "");
  EXPECT_EQ(DriveCandidate('E', 0), "E:\\PROGRAM FILES\\VARNO3\\");
  EXPECT_EQ(DriveCandidate('E', 1), "E:\\VARNO3\\");
  EXPECT_EQ(DriveCandidate('E', 2), "E:\\VARNOWIN3\\");
}

TEST(UpdateRunRules, BuiltInSettings) {
  StartUpdateFrm();
  EXPECT_EQ(UpdateBaseUrl.substr(0, 7), "http://");
  EXPECT_EQ(UpdateBaseUrl.substr(UpdateBaseUrl.size() - 16), "/quillon/loader/");
  EXPECT_GE(ClientCode().Length, 1);
  EXPECT_LE(ClientCode().Length, 10);
  FinishUpdateFrm();
  EXPECT_TRUE(UpdateBaseUrl.empty());
}

}  // namespace
