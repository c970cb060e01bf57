// Element event callbacks: the five operations of each of the eight events, and callbacks that
// change their own list while it is walked.
#include <string>
#include <vector>

#include "annotation_testing.h"

namespace {

using namespace taviron::annotation::testing;

// The operations of one event.
struct Family {
  const char *event;
  void (*add)(Eant_AnnotationInfo *, Eant_CallbackFunction, void *, Eerr_ErrorReport **);
  void (*setDocall)(Eant_AnnotationInfo *, int32_t, Eerr_ErrorReport **);
  void (*run)(Eant_AnnotationInfo *, void *, Eerr_ErrorReport **);
  void (*removeOne)(Eant_AnnotationInfo *, Eant_CallbackFunction, void *, Eerr_ErrorReport **);
  void (*removeAll)(Eant_AnnotationInfo *, Eerr_ErrorReport **);
  const char *callbackName;
  const char *removeOneName;
};
#define FAMILY(Event, RemoveOne, name)                                                             \
  Family {                                                                                         \
    #Event, eant_Add##Event##Callback, eant_SetDocallFor##Event##Callbacks, eant_Do##Event##Callbacks, RemoveOne, \
        eant_Remove##Event##Callback, name, #RemoveOne                                             \
  }
const Family kFamilies[] = {
    FAMILY(ElementCreated, eant_RemoveAnElementCreatedCallback, "elementCreatedCB"),
    FAMILY(ElementSelected, eant_RemoveAnElementSelectedCallback, "elementSelectedCB"),
    FAMILY(ElementDeselected, eant_RemoveAnElementDeselectedCallback, "elementDeselectedCB"),
    FAMILY(ElementMoved, eant_RemoveAnElementMovedCallback, "elementMovedCB"),
    FAMILY(ElementModified, eant_RemoveAnElementModifiedCallback, "elementModifiedCB"),
    FAMILY(ElementCut, eant_RemoveAnElementCutCallback, "elementCutCB"),
    FAMILY(ElementListModified, eant_RemoveAnElementListModifiedCallback, "elementListModifiedCB"),
    FAMILY(LayerClosed, eant_RemoveALayerClosedCallback, "layerClosedCB"),
};
#undef FAMILY

// What the callbacks saw: "<tag>:<object>" per call.
std::vector<std::string> calls;
struct Tag {
  const char *name;
};
void Record(void *object, void *userData, Eerr_ErrorReport **) {
  calls.push_back(std::string(static_cast<Tag *>(userData)->name) + ":" + static_cast<const char *>(object));
}
void Failing(void *, void *userData, Eerr_ErrorReport **err) {
  calls.push_back(static_cast<Tag *>(userData)->name);
  *err = eerr_CreateErrorReport("listener", 5, 2, nullptr, "listener failed");
}

class CallbackTest : public HeapTest {
protected:
  void SetUp() override {
    HeapTest::SetUp();
    calls.clear();
  }
  void TearDown() override {
    for (Eant_Callback *&list : info_.callbacks) eant_CallbackFree(&list);
    HeapTest::TearDown();
  }
  Eant_AnnotationInfo info_{};
  Tag a_{"a"}, b_{"b"}, c_{"c"};
  char element_[8] = "element";
};

TEST_F(CallbackTest, EveryEventKeepsItsOwnListInItsOwnSlot) {
  for (int32_t event = 0; event < EANT_CALLBACK_EVENT_COUNT; ++event) {
    const Family &f = kFamilies[event];
    SCOPED_TRACE(f.event);
    ErrorSlot err;
    calls.clear();
    f.add(&info_, &Record, &a_, &err);
    f.add(&info_, &Record, &a_, &err); // the same pair once
    f.add(&info_, &Record, &b_, &err); // the same callback with other data: after it
    ASSERT_FALSE(err);
    ASSERT_NE(nullptr, info_.callbacks[event]);
    EXPECT_EQ(1, info_.callbacks[event]->doCall);
    for (int32_t other = 0; other < EANT_CALLBACK_EVENT_COUNT; ++other)
      if (other != event) {
        EXPECT_EQ(nullptr, info_.callbacks[other]);
      }
    f.run(&info_, element_, &err);
    EXPECT_EQ((std::vector<std::string>{"a:element", "b:element"}), calls);

    // Suspended registrations keep their place.
    f.setDocall(&info_, 0, &err);
    f.run(&info_, element_, &err);
    EXPECT_EQ(2u, calls.size());
    f.setDocall(&info_, 1, &err);
    f.add(&info_, &Record, &c_, &err);
    f.removeOne(&info_, &Record, &a_, &err);
    calls.clear();
    f.run(&info_, element_, &err);
    EXPECT_EQ((std::vector<std::string>{"b:element", "c:element"}), calls);

    // Errors under the operation's own name.
    f.removeOne(&info_, &Record, &a_, &err);
    EXPECT_TRUE(Reported(err.get(), f.removeOneName, 2, "callback not found"));
    f.add(nullptr, &Record, &a_, &err);
    EXPECT_TRUE(Reported(err.get(), (std::string("eant_Add") + f.event + "Callback").c_str(), 1, "Invalid input antInfo"));
    f.run(nullptr, element_, &err);
    EXPECT_TRUE(Reported(err.get(), (std::string("eant_Do") + f.event + "Callbacks").c_str(), 1, "Invalid input antInfo"));
    f.setDocall(nullptr, 1, &err);
    EXPECT_TRUE(err);
    f.removeOne(nullptr, &Record, &a_, &err);
    EXPECT_TRUE(err);
    f.removeAll(nullptr, &err);
    EXPECT_TRUE(err);

    // A failing callback stops the walk with the event's message.
    f.add(&info_, &Failing, &a_, &err);
    f.add(&info_, &Record, &a_, &err);
    calls.clear();
    f.run(&info_, element_, &err);
    EXPECT_EQ((std::vector<std::string>{"b:element", "c:element", "a"}), calls);
    ASSERT_TRUE(Reported(err.get(), (std::string("eant_Do") + f.event + "Callbacks").c_str(), 2,
                         (std::string("Error returned from ") + f.callbackName).c_str()));
    EXPECT_STREQ("listener failed", err->next->message);

    f.removeAll(&info_, &err);
    EXPECT_FALSE(err);
    EXPECT_EQ(nullptr, info_.callbacks[event]);
    calls.clear();
    f.run(&info_, element_, &err); // an empty list: nothing, no report
    EXPECT_TRUE(calls.empty());
    EXPECT_FALSE(err);
  }
}

// ---- Callbacks that change the list they are called from ----

struct Editor {
  const char *name;
  Eant_AnnotationInfo *info;
  void (*action)(Editor &);
  void *removeData = nullptr;
};
void Edit(void *, void *userData, Eerr_ErrorReport **) {
  auto &editor = *static_cast<Editor *>(userData);
  calls.push_back(editor.name);
  if (editor.action) editor.action(editor);
}
void Plain(void *, void *userData, Eerr_ErrorReport **) { calls.push_back(static_cast<Editor *>(userData)->name); }

TEST_F(CallbackTest, ACallbackMayRemoveItselfTheNextOneOrAllWhileTheWalkRuns) {
  ErrorSlot err;
  Editor next{"next", &info_, nullptr};
  Editor self{"self", &info_, [](Editor &e) { eant_RemoveAnElementMovedCallback(e.info, &Edit, &e, nullptr); }};
  Editor removeNext{"removeNext", &info_,
                    [](Editor &e) { eant_RemoveAnElementMovedCallback(e.info, &Plain, e.removeData, nullptr); }};
  removeNext.removeData = &next;
  Editor last{"last", &info_, nullptr};
  eant_AddElementMovedCallback(&info_, &Edit, &self, &err);
  eant_AddElementMovedCallback(&info_, &Edit, &removeNext, &err);
  eant_AddElementMovedCallback(&info_, &Plain, &next, &err);
  eant_AddElementMovedCallback(&info_, &Plain, &last, &err);
  eant_DoElementMovedCallbacks(&info_, element_, &err);
  // Its own removal does not stop the walk; the removed next registration is not called.
  EXPECT_EQ((std::vector<std::string>{"self", "removeNext", "last"}), calls);
  EXPECT_FALSE(err);
  calls.clear();
  eant_DoElementMovedCallbacks(&info_, element_, &err);
  EXPECT_EQ((std::vector<std::string>{"removeNext", "last"}), calls);
  // A removed pair may be registered again (after "last"); here it is removed again before its turn.
  eant_AddElementMovedCallback(&info_, &Plain, &next, &err);
  ASSERT_NE(nullptr, info_.callbacks[EANT_ELEMENT_MOVED]->next->next);
  calls.clear();
  eant_DoElementMovedCallbacks(&info_, element_, &err);
  EXPECT_EQ((std::vector<std::string>{"removeNext", "last"}), calls);
  EXPECT_EQ(nullptr, info_.callbacks[EANT_ELEMENT_MOVED]->next->next);

  // Clearing the list (and freeing it as an info's free does) while it is walked.
  Editor clear{"clear", &info_, [](Editor &e) { eant_RemoveElementMovedCallback(e.info, nullptr); }};
  Editor freeList{"free", &info_, [](Editor &e) { eant_CallbackFree(&e.info->callbacks[EANT_ELEMENT_MOVED]); }};
  for (Editor *editor : {&clear, &freeList}) {
    eant_RemoveElementMovedCallback(&info_, &err);
    eant_AddElementMovedCallback(&info_, &Edit, editor, &err);
    eant_AddElementMovedCallback(&info_, &Plain, &last, &err);
    calls.clear();
    eant_DoElementMovedCallbacks(&info_, element_, &err);
    EXPECT_EQ((std::vector<std::string>{editor->name}), calls);
    calls.clear();
    eant_DoElementMovedCallbacks(&info_, element_, &err);
    EXPECT_TRUE(calls.empty());
    eant_AddElementMovedCallback(&info_, &Plain, &last, &err);
    eant_DoElementMovedCallbacks(&info_, element_, &err);
    EXPECT_EQ((std::vector<std::string>{"last"}), calls);
  }
}

TEST_F(CallbackTest, AWalkInsideAWalkFreesWhatWasRemovedOnlyAtTheEnd) {
  ErrorSlot err;
  Editor inner{"inner", &info_, nullptr};
  static bool nested = false;
  Editor outer{"outer", &info_, [](Editor &e) {
                 // Runs the same list again (once), and removes the registration after this one.
                 if (nested) return;
                 nested = true;
                 eant_DoElementCutCallbacks(e.info, nullptr, nullptr);
                 eant_RemoveAnElementCutCallback(e.info, &Plain, e.removeData, nullptr);
               }};
  outer.removeData = &inner;
  eant_AddElementCutCallback(&info_, &Edit, &outer, &err);
  eant_AddElementCutCallback(&info_, &Plain, &inner, &err);
  eant_DoElementCutCallbacks(&info_, element_, &err);
  EXPECT_EQ((std::vector<std::string>{"outer", "outer", "inner"}), calls);
  calls.clear();
  eant_DoElementCutCallbacks(&info_, element_, &err);
  EXPECT_EQ((std::vector<std::string>{"outer"}), calls);
  EXPECT_EQ(nullptr, info_.callbacks[EANT_ELEMENT_CUT]->next);
}

TEST_F(CallbackTest, RegistrationsAndTheirFailures) {
  ErrorSlot err;
  Eant_Callback *registration = eant_CallbackCreate(&err);
  ASSERT_NE(nullptr, registration);
  EXPECT_EQ(1, registration->doCall);
  eant_CallbackFree(&registration);
  EXPECT_EQ(nullptr, registration);
  {
    taviron::testing::FailAllocation fail(1);
    eant_AddLayerClosedCallback(&info_, &Record, &a_, &err);
  }
  ASSERT_TRUE(Reported(err.get(), "eant_AddLayerClosedCallback", 2, "Error returned from eant_CallbackCreate"));
  EXPECT_TRUE(Reported(err->next, "eant_CallbackCreate", 1, "Error allocating callback"));
  EXPECT_EQ(nullptr, info_.callbacks[EANT_LAYER_CLOSED]);
}

} // namespace
