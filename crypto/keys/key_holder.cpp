// Key holder life cycle: empty, release by key type, deep copy by key type.
#include "crypto/keys/key_holder.h"

#include "crypto/keys/ec.h"
#include "crypto/rsa/rsa.h"

MSTATUS CA_MGMT_initKey(KeyHolder *holder)
{
    if (!holder)
        return ERR_NULL_POINTER;
    holder->type = KEY_TYPE_EMPTY;
    holder->key = nullptr;
    return OK;
}

MSTATUS CA_MGMT_freeKey(KeyHolder *holder)
{
    if (!holder)
        return ERR_NULL_POINTER;
    MSTATUS st = OK;
    switch (holder->type) {
    case KEY_TYPE_EMPTY:
        return OK;
    case KEY_TYPE_RSA: {
        auto *key = static_cast<RSAKey *>(holder->key);
        if (key)
            st = RSA_freeKey(&key, nullptr);
        break;
    }
    case KEY_TYPE_EC: {
        auto *key = static_cast<ECKey *>(holder->key);
        if (key)
            st = EC_freeKey(&key);
        break;
    }
    default:
        return ERR_KEY_TYPE_UNKNOWN;
    }
    holder->type = KEY_TYPE_EMPTY;
    holder->key = nullptr;
    return st;
}

MSTATUS CA_MGMT_copyKey(KeyHolder *destination, const KeyHolder *source)
{
    if (!destination || !source)
        return ERR_NULL_POINTER;
    // Emptying the destination first would release the very key about to be copied.
    if (destination == source)
        return OK;
    if (source->type != KEY_TYPE_EMPTY && source->type != KEY_TYPE_RSA && source->type != KEY_TYPE_EC)
        return ERR_KEY_TYPE_UNKNOWN;
    if (MSTATUS st = CA_MGMT_freeKey(destination); st < 0)
        return st;
    if (source->type == KEY_TYPE_EMPTY)
        return OK;
    if (!source->key)
        return ERR_NULL_POINTER;
    MSTATUS st = OK;
    void *copy = nullptr;
    if (source->type == KEY_TYPE_RSA) {
        RSAKey *rsa = nullptr;
        st = RSA_cloneKey(&rsa, static_cast<const RSAKey *>(source->key), nullptr);
        copy = rsa;
    } else {
        ECKey *ec = nullptr;
        st = EC_cloneKey(&ec, static_cast<const ECKey *>(source->key));
        copy = ec;
    }
    if (st < 0)
        return st;
    destination->type = source->type;
    destination->key = copy;
    return OK;
}
